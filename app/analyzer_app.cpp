// Program start: the application object and its one modal window.
#include "app/analyzer_app.h"

#include "ui/analyzer_dlg.h"
#include "ui/strings.h"

#include <QApplication>

namespace quillon {

int CAnalyzerApp::Run(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationVersion(QString::fromLatin1(kAppVersion));
    // Message boxes are captioned with the program file's name: "quillon".
    InitInstance();
    return 0;
}

bool CAnalyzerApp::InitInstance() {
    CAnalyzerDlg dlg;
    dlg.DoModal();
    return false;
}

} // namespace quillon
