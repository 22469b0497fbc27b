// quillon: the logic analyzer's window.
#include "app/analyzer_app.h"

namespace {
quillon::CAnalyzerApp theApp;
}

int main(int argc, char** argv) {
    return theApp.Run(argc, argv);
}
