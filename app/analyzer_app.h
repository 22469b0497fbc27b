// CAnalyzerApp: starts the toolkit, runs the main window modally, ends the program.
#pragma once

namespace quillon {

class CAnalyzerApp {
public:
    /// Runs the whole program; returns the process exit status.
    int Run(int argc, char** argv);
    /// Shows the main window modally; always false (no message loop of our own follows).
    bool InitInstance();
};

} // namespace quillon
