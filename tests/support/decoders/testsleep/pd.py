## A slow decoder: 20 ms per sample, one annotation per sample.
## SPDX-License-Identifier: GPL-3.0-or-later

import time
import sigrokdecode as srd

class Decoder(srd.Decoder):
    api_version = 3
    id = 'testsleep'
    name = 'Sleep'
    longname = 'Test decoder that sleeps per sample'
    desc = 'Sleeps 20 ms for every sample and names it.'
    license = 'gplv3+'
    inputs = ['logic']
    outputs = []
    tags = ['Debug/trace']
    channels = ({'id': 'data', 'name': 'Data', 'desc': 'Any line'},)
    annotations = (('sample', 'Sample'),)
    annotation_rows = (('samples', 'Samples', (0,)),)

    def reset(self):
        pass

    def start(self):
        self.out_ann = self.register(srd.OUTPUT_ANN)

    def decode(self):
        while True:
            self.wait({'skip': 1})
            time.sleep(0.02)
            self.put(self.samplenum, self.samplenum + 1, self.out_ann,
                     [0, ['sample %d' % self.samplenum]])
