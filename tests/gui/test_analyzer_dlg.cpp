// The main window: template, initial state, About, Enter/Esc, closing and the port.
#include "message_box_closer.h"
#include "support/far_end.h"
#include "ui/about_dlg.h"
#include "dlg_controls.h"
#include "ui/analyzer_dlg.h"
#include "ui/dialog_template.h"
#include "ui/picture_ctrl.h"
#include "ui/spin_button_ctrl.h"
#include "ui/strings.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTest>

#include <sys/file.h>

using namespace quillon;
using namespace std::chrono_literals;

class TestAnalyzerDlg : public QObject {
    Q_OBJECT
private slots:
    void init() { ::setenv("QUILLON_PORTS", "", 1); }

    void controlsFollowTheTemplate_data() {
        QTest::addColumn<int>("index");
        for (std::size_t i = 0; i < kMainTemplate.size(); ++i) {
            if (kMainTemplate[i].id != IDC_STATIC) {
                QTest::newRow(QByteArray::number(kMainTemplate[i].id).constData())
                    << static_cast<int>(i);
            }
        }
    }
    void controlsFollowTheTemplate() {
        QFETCH(int, index);
        const ControlTemplate& c = kMainTemplate[static_cast<std::size_t>(index)];
        CAnalyzerDlg dlg;
        QWidget* w = dlg.GetDlgItem(c.id);
        QVERIFY(w != nullptr);
        switch (c.kind) {
        case ControlKind::PushButton: {
            auto* b = qobject_cast<QPushButton*>(w);
            QVERIFY(b);
            QCOMPARE(b->text(), QString::fromUtf8(c.caption));
            QVERIFY(!b->isDefault());
            QVERIFY(!b->autoDefault());
            break;
        }
        case ControlKind::Edit:
            QVERIFY(qobject_cast<QLineEdit*>(w));
            QCOMPARE(qobject_cast<QLineEdit*>(w)->isReadOnly(), c.readOnly);
            break;
        case ControlKind::UpDown:
            QVERIFY(qobject_cast<CSpinButtonCtrl*>(w));
            break;
        case ControlKind::Picture:
            QVERIFY(qobject_cast<CPictureCtrl*>(w));
            break;
        case ControlKind::CheckBox:
            QCOMPARE(qobject_cast<QCheckBox*>(w)->text(), QString::fromUtf8(c.caption));
            break;
        case ControlKind::Radio:
            QCOMPARE(qobject_cast<QRadioButton*>(w)->text(), QString::fromUtf8(c.caption));
            break;
        default:
            QFAIL("unexpected kind");
        }
        const QRect expected =
            c.kind == ControlKind::Picture ? QRect(23, 23, 600, 320) : DluRect(c);
        QCOMPARE(w->geometry(), expected);
        QCOMPARE(w->isHidden(), !c.visible);
    }

    void staticTextsAndFrame() {
        CAnalyzerDlg dlg;
        QStringList captions;
        for (auto* label : dlg.findChildren<QLabel*>()) {
            captions << label->text();
        }
        for (const char* text : {"trigpos(1:0)", "ﾄﾘｶﾞﾊﾟﾀｰﾝ(15:0)", "genperiod(7:0)", "gentype"}) {
            QVERIFY2(captions.contains(QString::fromUtf8(text)), text);
        }
        auto boxes = dlg.findChildren<QGroupBox*>();
        QCOMPARE(boxes.size(), 1);
        QCOMPARE(boxes[0]->title(), QString::fromUtf8("ﾀｲﾐﾝｸﾞ速度"));
        QCOMPARE(dlg.windowTitle(), QString::fromUtf8("QuillonLa16 (16ﾋﾞｯﾄのﾛｼﾞｯｸｱﾅﾗｲｻﾞ)"));
        // The picture is exactly 600 x 320 and starts white with a black frame.
        const QImage image = dlg.ViewImage();
        QCOMPARE(image.size(), QSize(600, 320));
        QCOMPARE(image.pixel(0, 0), qRgb(0, 0, 0));
        QCOMPARE(image.pixel(599, 319), qRgb(0, 0, 0));
        QCOMPARE(image.pixel(1, 1), qRgb(255, 255, 255));
        QCOMPARE(image.pixel(300, 160), qRgb(255, 255, 255));
        // The icon comes in all three sizes.
        QVERIFY(!dlg.Icon().isNull());
        const auto sizes = dlg.Icon().availableSizes();
        for (int size : {16, 32, 48}) {
            QVERIFY(sizes.contains(QSize(size, size)));
        }
    }

    void constructedStateBeforeStartUp() {
        CAnalyzerDlg dlg;
        QCOMPARE(dlg.ZoomLabel(), QStringLiteral("1us/d"));
        QCOMPARE(dlg.TimebaseText(), QStringLiteral("1us/d"));
        QVERIFY(dlg.RateLabel().isEmpty());
        QCOMPARE(dlg.IsReady(), false);
        QCOMPARE(dlg.Rate(), 1);
        QCOMPARE(dlg.Session().Flags().m_bTriggerMode.load(), 0);
        QCOMPARE(dlg.Session().Flags().m_bStopRequest.load(), 0);
        QVERIFY(!dlg.Session().Port().IsOpen());
    }

    void startUpWithoutAnalyzerWarnsAndSetsDefaults() {
        test::MessageBoxCloser closer;
        CAnalyzerDlg dlg;
        dlg.OnInitDialog();
        QCOMPARE(closer.m_texts.size(), 1);
        QCOMPARE(closer.m_texts[0], QString::fromUtf8(kNotFoundText));
        QCOMPARE(closer.m_captions[0], QCoreApplication::applicationName());
        QVERIFY(!dlg.Session().Port().IsOpen());
        QCOMPARE(test::ZoomSpin(dlg)->GetPos(), 5);
        QCOMPARE(test::ZoomBuddyField(dlg)->text(), QStringLiteral("5"));
        QVERIFY(test::Rate20ns(dlg)->isChecked());
        QVERIFY(!test::Rate200ns(dlg)->isChecked() && !test::Rate2us(dlg)->isChecked() &&
                !test::Rate20us(dlg)->isChecked());
        QCOMPARE(qobject_cast<QLineEdit*>(dlg.GetDlgItem(IDC_TIMEBASE))->text(),
                 QStringLiteral("1us/d"));
        // The spin's start-up notification changed nothing.
        QCOMPARE(dlg.ZoomLabel(), QStringLiteral("1us/d"));
        QVERIFY(dlg.RateLabel().isEmpty());
        QCOMPARE(dlg.IsReady(), true);
        QCOMPARE(test::DelayField(dlg)->text(), QStringLiteral("30"));
        QCOMPARE(test::ReplyField(dlg)->text(), QStringLiteral("no port"));
        QCOMPARE(test::GenPeriodField(dlg)->text(), QStringLiteral("00000000"));
        QCOMPARE(test::GenTypeField(dlg)->text(), QStringLiteral("0"));
        QCOMPARE(test::TrigPatternField(dlg)->text(), QString(16, QLatin1Char('0')));
        QCOMPARE(test::TrigPosField(dlg)->text(), QStringLiteral("00"));
        // No picture yet: still the white bitmap.
        QCOMPARE(dlg.ViewImage().pixel(300, 20), qRgb(255, 255, 255));
    }

    void hiddenFieldsKeepWorking() {
        CAnalyzerDlg dlg;
        for (int id : {IDC_REPLY, IDC_DELAY, IDC_ZOOM_BUDDY, IDC_GEN_PERIOD, IDC_GEN_TYPE}) {
            auto* edit = qobject_cast<QLineEdit*>(dlg.GetDlgItem(id));
            QVERIFY(edit->isHidden());
            edit->setText(QStringLiteral("text %1").arg(id));
            QCOMPARE(edit->text(), QStringLiteral("text %1").arg(id));
        }
        test::ZoomSpin(dlg)->SetRange(0, 7);
        test::ZoomSpin(dlg)->SetPos(3);
        QCOMPARE(test::ZoomBuddyField(dlg)->text(), QStringLiteral("3"));
    }

    void rateButtonsFormOneGroup() {
        test::MessageBoxCloser closer;
        CAnalyzerDlg dlg;
        dlg.OnInitDialog();
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        QTest::mouseClick(test::Rate200ns(dlg), Qt::LeftButton);
        QVERIFY(test::Rate200ns(dlg)->isChecked());
        QVERIFY(!test::Rate20ns(dlg)->isChecked());
        QCOMPARE(dlg.Rate(), 10);
    }

    void aboutOpensFromTheContextMenu() {
        test::MessageBoxCloser closer;
        CAnalyzerDlg dlg;
        dlg.OnInitDialog();
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        QString aboutCaption;
        QStringList aboutTexts;
        // The menu and then the About box run modal loops: act on them from timers.
        QTimer::singleShot(50, [&] {
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            QVERIFY(menu != nullptr);
            QAction* about = nullptr;
            for (QAction* a : menu->actions()) {
                if (a->text() == QString::fromUtf8("バージョン情報 Quillon(&A)...")) {
                    about = a;
                }
            }
            QVERIFY(about != nullptr);
            QTimer::singleShot(50, [&] {
                auto* box = qobject_cast<CAboutDlg*>(QApplication::activeModalWidget());
                QVERIFY(box != nullptr);
                aboutCaption = box->windowTitle();
                for (auto* label : box->findChildren<QLabel*>()) {
                    aboutTexts << label->text();
                }
                box->accept();
            });
            about->trigger();
            menu->close();
        });
        QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(100, 100),
                                dlg.mapToGlobal(QPoint(100, 100)));
        QApplication::sendEvent(&dlg, &event);
        QTRY_COMPARE(aboutCaption, QString::fromUtf8("バージョン情報 Quillon"));
        QVERIFY(aboutTexts.contains(QStringLiteral("Quillon Version 1.0")));
    }

    void aboutCommandIgnoresTheLowFourBits() {
        CAnalyzerDlg dlg;
        for (unsigned command : {0x0010u, 0x0011u, 0x001Fu}) {
            bool opened = false;
            QTimer::singleShot(20, [&] {
                if (auto* box = qobject_cast<CAboutDlg*>(QApplication::activeModalWidget())) {
                    opened = true;
                    box->accept();
                }
            });
            dlg.OnSysCommand(command, 0);
            QVERIFY2(opened, QByteArray::number(command).constData());
        }
    }

    void enterInAFieldDoesNotEndTheProgramButEscDoes() {
        test::MessageBoxCloser closer;
        CAnalyzerDlg dlg;
        dlg.OnInitDialog();
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        QSignalSpy finished(&dlg, &QDialog::finished);
        for (QLineEdit* field : {test::TrigPatternField(dlg), test::TrigPosField(dlg)}) {
            field->setFocus();
            QTest::keyClick(field, Qt::Key_Return);
            QTest::keyClick(field, Qt::Key_Enter);
        }
        QVERIFY(dlg.isVisible());
        QCOMPARE(finished.count(), 0);
        QTest::keyClick(test::TrigPatternField(dlg), Qt::Key_Escape);
        QCOMPARE(finished.count(), 1);
        QVERIFY(!dlg.isVisible());
    }

    // Run has the focus at start-up: Enter starts a capture there, as Space does; Enter on
    // Stop and on a rate button presses them too.
    void enterPressesTheFocusedRunStopOrRateButton() {
        test::MessageBoxCloser closer;
        CAnalyzerDlg dlg;
        dlg.OnInitDialog();
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        QVERIFY(test::RunButton(dlg)->hasFocus());
        QSignalSpy finished(&dlg, &CAnalyzerDlg::CaptureFinished);
        QTest::keyClick(test::RunButton(dlg), Qt::Key_Return);
        QVERIFY(dlg.IsCapturing());
        QVERIFY(finished.wait(20000));
        auto* stop = qobject_cast<QPushButton*>(dlg.GetDlgItem(IDC_STOP));
        stop->setFocus();
        QTest::keyClick(stop, Qt::Key_Enter, Qt::KeypadModifier);
        QCOMPARE(dlg.Session().Flags().m_bStopRequest.load(), 1);
        test::Rate2us(dlg)->setFocus();
        QTest::keyClick(test::Rate2us(dlg), Qt::Key_Return);
        QVERIFY(test::Rate2us(dlg)->isChecked());
        QCOMPARE(dlg.Rate(), 100);
        QVERIFY(dlg.isVisible());
    }

    void tabOrderFollowsTheTemplate() {
        CAnalyzerDlg dlg;
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        // The visible tab stops in template order, Run first; hidden fields are skipped.
        const int expected[] = {IDC_RUN,      IDC_TIMEBASE, IDC_TRIGGER_MODE, IDC_TRIG_PATTERN,
                                IDC_TRIG_POS, IDC_STOP,     IDC_RATE_20US};
        QWidget* w = dlg.GetDlgItem(IDC_RUN);
        QList<int> order;
        for (int i = 0; i < 40 && order.size() < 7; ++i) {
            const int id = w->property("dlgCtrlId").toInt();
            if (w->isVisible() && (w->focusPolicy() & Qt::TabFocus) && id != 0 &&
                !order.contains(id)) {
                order << id;
            }
            w = w->nextInFocusChain();
        }
        QCOMPARE(order, QList<int>(std::begin(expected), std::end(expected)));
        QCOMPARE(dlg.GetDlgItem(IDC_SPIN_ZOOM)->focusPolicy() & Qt::TabFocus, 0);
    }

    void escEndsWithoutOnCloseAndThePortClosesWithTheWindow() {
        test::PtyPair pty;
        test::FarEnd analyzer(pty, [](const std::string& c) {
            return c == "REQPN\r" ? std::string("KPNQUILLNV01\r") : std::string();
        });
        ::setenv("QUILLON_PORTS", ("COM3=" + pty.SlavePath()).c_str(), 1);
        auto dlg = std::make_unique<CAnalyzerDlg>();
        dlg->OnInitDialog();
        dlg->show();
        QVERIFY(QTest::qWaitForWindowExposed(dlg.get()));
        QTest::keyClick(dlg.get(), Qt::Key_Escape);
        QVERIFY(!dlg->isVisible());
        QVERIFY(dlg->Session().Port().IsOpen()); // Cancel does not run OnClose...
        dlg.reset();                   // ...the port closes when the window object goes
        const int fd = ::open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY);
        QVERIFY(fd >= 0);
        QCOMPARE(::flock(fd, LOCK_EX | LOCK_NB), 0);
        ::close(fd);
    }

    void closingClosesThePort() {
        test::PtyPair pty;
        test::FarEnd analyzer(pty, [](const std::string& c) {
            return c == "REQPN\r" ? std::string("KPNQUILLNV01\r") : std::string();
        });
        ::setenv("QUILLON_PORTS", ("COM3=" + pty.SlavePath()).c_str(), 1);
        CAnalyzerDlg dlg;
        dlg.OnInitDialog();
        QVERIFY(dlg.Session().Port().IsOpen());
        QCOMPARE(test::ReplyField(dlg)->text(), QStringLiteral("KPNQUILLNV01\r"));
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        dlg.close();
        QVERIFY(!dlg.Session().Port().IsOpen());
        // Released for other programs too.
        const int fd = ::open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY);
        QVERIFY(fd >= 0);
        QCOMPARE(::flock(fd, LOCK_EX | LOCK_NB), 0);
        ::close(fd);
    }
};

QTEST_MAIN(TestAnalyzerDlg)
#include "test_analyzer_dlg.moc"
