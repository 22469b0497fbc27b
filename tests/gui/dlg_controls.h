// The main window's controls, found by their identifiers as the window binds them.
#pragma once

#include "ui/analyzer_dlg.h"
#include "ui/dialog_template.h"
#include "ui/spin_button_ctrl.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

namespace quillon::test {

template <class T> T* Control(const CAnalyzerDlg& dlg, int id) {
    return qobject_cast<T*>(dlg.GetDlgItem(id));
}
inline QPushButton* RunButton(const CAnalyzerDlg& d) {
    return Control<QPushButton>(d, IDC_RUN);
}
inline QCheckBox* TriggerModeBox(const CAnalyzerDlg& d) {
    return Control<QCheckBox>(d, IDC_TRIGGER_MODE);
}
inline QLineEdit* TrigPatternField(const CAnalyzerDlg& d) {
    return Control<QLineEdit>(d, IDC_TRIG_PATTERN);
}
inline QLineEdit* TrigPosField(const CAnalyzerDlg& d) {
    return Control<QLineEdit>(d, IDC_TRIG_POS);
}
inline QLineEdit* GenTypeField(const CAnalyzerDlg& d) {
    return Control<QLineEdit>(d, IDC_GEN_TYPE);
}
inline QLineEdit* GenPeriodField(const CAnalyzerDlg& d) {
    return Control<QLineEdit>(d, IDC_GEN_PERIOD);
}
inline QLineEdit* ZoomBuddyField(const CAnalyzerDlg& d) {
    return Control<QLineEdit>(d, IDC_ZOOM_BUDDY);
}
inline QLineEdit* ReplyField(const CAnalyzerDlg& d) {
    return Control<QLineEdit>(d, IDC_REPLY);
}
inline QLineEdit* DelayField(const CAnalyzerDlg& d) {
    return Control<QLineEdit>(d, IDC_DELAY);
}
inline CSpinButtonCtrl* ZoomSpin(const CAnalyzerDlg& d) {
    return Control<CSpinButtonCtrl>(d, IDC_SPIN_ZOOM);
}
inline QRadioButton* Rate20ns(const CAnalyzerDlg& d) {
    return Control<QRadioButton>(d, IDC_RATE_20NS);
}
inline QRadioButton* Rate200ns(const CAnalyzerDlg& d) {
    return Control<QRadioButton>(d, IDC_RATE_200NS);
}
inline QRadioButton* Rate2us(const CAnalyzerDlg& d) {
    return Control<QRadioButton>(d, IDC_RATE_2US);
}
inline QRadioButton* Rate20us(const CAnalyzerDlg& d) {
    return Control<QRadioButton>(d, IDC_RATE_20US);
}

} // namespace quillon::test
