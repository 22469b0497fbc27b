##
## Test decoder of Quillon: testloop.
## SPDX-License-Identifier: GPL-3.0-or-later
##

from .pd import Decoder
