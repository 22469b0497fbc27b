##
## Test decoder of Quillon: testsleep.
## SPDX-License-Identifier: GPL-3.0-or-later
##

from .pd import Decoder
