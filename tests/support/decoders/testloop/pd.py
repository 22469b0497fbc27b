## A decoder that never returns to the library: it loops for ever without waiting for samples.
## SPDX-License-Identifier: GPL-3.0-or-later

import sigrokdecode as srd

class Decoder(srd.Decoder):
    api_version = 3
    id = 'testloop'
    name = 'Loop'
    longname = 'Test decoder that loops for ever'
    desc = 'Never returns from decode().'
    license = 'gplv3+'
    inputs = ['logic']
    outputs = []
    tags = ['Debug/trace']
    channels = ({'id': 'data', 'name': 'Data', 'desc': 'Any line'},)
    annotations = (('text', 'Text'),)
    annotation_rows = (('texts', 'Texts', (0,)),)

    def reset(self):
        pass

    def start(self):
        self.out_ann = self.register(srd.OUTPUT_ANN)

    def decode(self):
        self.put(0, 1, self.out_ann, [0, ['looping']])
        n = 0
        while True:
            n += 1
