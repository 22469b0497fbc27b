##
## Test decoder of Quillon: testraise.
## SPDX-License-Identifier: GPL-3.0-or-later
##

from .pd import Decoder
