## A decoder that fails: it raises an exception of its own at its first sample.
## SPDX-License-Identifier: GPL-3.0-or-later

import sigrokdecode as srd

class Decoder(srd.Decoder):
    api_version = 3
    id = 'testraise'
    name = 'Raise'
    longname = 'Test decoder that raises'
    desc = 'Raises ValueError at its first sample.'
    license = 'gplv3+'
    inputs = ['logic']
    outputs = []
    tags = ['Debug/trace']
    channels = ({'id': 'data', 'name': 'Data', 'desc': 'Any line'},)
    annotations = (('text', 'Text'),)

    def reset(self):
        pass

    def start(self):
        self.out_ann = self.register(srd.OUTPUT_ANN)

    def decode(self):
        self.wait({'skip': 1})
        raise ValueError('broken on purpose')
