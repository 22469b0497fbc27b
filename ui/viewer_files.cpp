// The viewer's files: capture files read in the background (progress, cancel, a sample rate
// asked for when a file has none), the shown capture or picture written, screenshots.
#include "display/waveform.h"
#include "file/capture_file.h"
#include "file/sample_rate.h"
#include "file/save_file.h"
#include "ui/decoder_set.h"
#include "ui/file_loader.h"
#include "ui/viewer_common.h"
#include "ui/viewer_wnd.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QLabel>
#include <QLocale>
#include <QPixmap>
#include <QPointer>
#include <QProgressBar>
#include <QStatusBar>
#include <QToolButton>

#include <cstdio>

namespace quillon {

using namespace viewer;

namespace {

constexpr const char* kCancelledText = "読み込みを中止しました: %1";
constexpr const char* kOpenFilter = "波形ファイル (*.vcd *.csv *.sr);;すべてのファイル (*)";
constexpr const char* kVcdFilter = "VCDファイル (*.vcd)";
constexpr const char* kCsvFilter = "CSVファイル (*.csv)";
constexpr const char* kSigrokFilter = "sigrokセッション (*.sr)";
constexpr const char* kPngFilter = "PNG画像 (*.png)";
constexpr const char* kOpenFailedText = "ファイルを開けませんでした。 \r\n";
constexpr const char* kWriteFailedText = "ファイルに保存できませんでした。 \r\n";
constexpr const char* kUnknownTypeText = "保存できるのは .vcd .csv .sr .png のファイルです。 \r\n";
constexpr const char* kRateCaption = "サンプルレート";
constexpr const char* kRatePrompt =
    "%1 にはサンプルレートがありません。\nサンプルレート (例: 24 MHz) またはサンプル周期 "
    "(例: 20 ns):";
constexpr const char* kRateBadText = "サンプルレートとして読めません: %1";
constexpr const char* kNoRateText = "%s: the file names no sample rate";

} // namespace

void CViewerWnd::OpenFile(const QString& path) {
    m_bLoadShown = false;
    m_pLoader->Start(path);
    m_labelLoad->setText(Utf8(kLoadingTitle) + QStringLiteral(": ") + QFileInfo(path).fileName());
    m_progressLoad->setValue(0);
    for (QWidget* widget :
         {static_cast<QWidget*>(m_labelLoad), static_cast<QWidget*>(m_progressLoad),
          static_cast<QWidget*>(m_buttonCancelLoad)}) {
        widget->show();
    }
    UpdateScene();
    UpdateTitle();
    Redraw();
}

bool CViewerWnd::IsLoading() const {
    return m_pLoader->IsBusy();
}

void CViewerWnd::CancelLoad() {
    m_pLoader->Cancel();
}

bool CViewerWnd::WaitForFile() {
    if (!IsLoading()) {
        return m_bLoadShown;
    }
    QPointer<CViewerWnd> self(this);
    QEventLoop loop;
    connect(this, &CViewerWnd::FileLoaded, &loop, &QEventLoop::quit);
    connect(this, &QObject::destroyed, &loop, &QEventLoop::quit);
    loop.exec();
    return self && m_bLoadShown;
}

bool CViewerWnd::LoadFile(const QString& path) {
    OpenFile(path);
    return WaitForFile();
}

void CViewerWnd::OnLoadProgress(std::uint64_t done, std::uint64_t total) {
    if (total > 0) {
        m_progressLoad->setValue(
            static_cast<int>(1000.0 * static_cast<double>(done) / static_cast<double>(total)));
    }
    const QLocale locale;
    m_labelLoad->setText(Utf8(kLoadingTitle) +
                         QStringLiteral(": %1  %2 / %3")
                             .arg(QFileInfo(m_pLoader->Path()).fileName(),
                                  locale.formattedDataSize(static_cast<qint64>(done)),
                                  locale.formattedDataSize(static_cast<qint64>(total))));
}

void CViewerWnd::OnLoadFinished(const CapturePtr& capture, const FileReadError& error) {
    const QString path = m_pLoader->Path();
    if (!capture && error.kind == FileReadError::Kind::NoSampleRate) {
        if (const auto period = AskSampleRate(path)) {
            m_pLoader->Start(path, period);
            return;
        }
    }
    for (QWidget* widget :
         {static_cast<QWidget*>(m_labelLoad), static_cast<QWidget*>(m_progressLoad),
          static_cast<QWidget*>(m_buttonCancelLoad)}) {
        widget->hide();
    }
    if (capture) {
        ShowCapture(capture, path);
        if (!m_bUnattended) { // a picture without a user leaves the user's settings alone
            UserSettings().setValue(QString::fromLatin1(kDirKey), QFileInfo(path).absolutePath());
        }
    } else if (error.kind == FileReadError::Kind::Cancelled) {
        statusBar()->showMessage(Utf8(kCancelledText).arg(QFileInfo(path).fileName()), 5000);
    } else if (error.kind != FileReadError::Kind::NoSampleRate || m_bUnattended) {
        FileReadError named = error;
        named.file = QDir::toNativeSeparators(path).toStdString();
        if (error.kind == FileReadError::Kind::NoSampleRate) {
            named.what = "the file names no sample rate";
        }
        Warn(Utf8(kOpenFailedText) + QString::fromStdString(named.Text()));
    }
    UpdateScene();
    UpdateTitle();
    Redraw();
    m_bLoadShown = capture != nullptr;
    emit FileLoaded(m_bLoadShown);
}

std::optional<SamplePeriod> CViewerWnd::AskSampleRate(const QString& path) {
    if (m_bUnattended) {
        std::fprintf(stderr, "%s: ", qPrintable(QCoreApplication::applicationName()));
        std::fprintf(stderr, kNoRateText, qPrintable(QDir::toNativeSeparators(path)));
        std::fputc('\n', stderr);
        return std::nullopt;
    }
    const QStringList rates = {
        QStringLiteral("1 MHz"),  QStringLiteral("2 MHz"),   QStringLiteral("4 MHz"),
        QStringLiteral("8 MHz"),  QStringLiteral("10 MHz"),  QStringLiteral("12 MHz"),
        QStringLiteral("16 MHz"), QStringLiteral("20 MHz"),  QStringLiteral("24 MHz"),
        QStringLiteral("25 MHz"), QStringLiteral("32 MHz"),  QStringLiteral("48 MHz"),
        QStringLiteral("50 MHz"), QStringLiteral("100 MHz"), QStringLiteral("200 MHz"),
        QStringLiteral("500 MHz")};
    QString text = rates[8];
    for (;;) {
        bool bOk = false;
        text = QInputDialog::getItem(this, Utf8(kRateCaption),
                                     Utf8(kRatePrompt).arg(QFileInfo(path).fileName()), rates,
                                     std::max<qsizetype>(0, rates.indexOf(text)), true, &bOk);
        if (!bOk) {
            return std::nullopt;
        }
        if (const auto period = ParseSampleRate(text.toStdString())) {
            return period;
        }
        Warn(Utf8(kRateBadText).arg(text));
    }
}

bool CViewerWnd::SaveFile(const QString& path) {
    const std::string file = QFile::encodeName(path).toStdString();
    const auto format = FileFormatForPath(file);
    if (!format) {
        Warn(Utf8(kUnknownTypeText));
        return false;
    }
    if (!m_capture || m_capture->SampleCount() == 0) {
        Warn(Utf8(kNothingText));
        return false;
    }
    std::string reason = "cannot encode the picture";
    bool bWritten = false;
    CapturePtr written;
    if (*format == FileFormat::Png) {
        QImage image(Canvas()->size(), QImage::Format_RGB32);
        Render(image);
        const std::string bytes = EncodePng(image);
        bWritten = !bytes.empty() && WriteWholeFile(file, bytes, reason);
    } else {
        // The names the rows show.
        std::vector<std::string> names;
        for (int channel = 0; channel < ChannelCount(); ++channel) {
            names.push_back(ChannelName(channel).toStdString());
        }
        written = m_capture->WithNames(std::move(names));
        const std::string date = QDateTime::currentDateTime()
                                     .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))
                                     .toStdString();
        bWritten = WriteCaptureFile(file, *written, *format, reason, date);
    }
    if (!bWritten) {
        Warn(Utf8(kWriteFailedText) + QDir::toNativeSeparators(path) + QStringLiteral(" \r\n(") +
             QString::fromLocal8Bit(reason.c_str()) + QStringLiteral(")"));
        return false;
    }
    if (written) {
        // The new file keeps what the rows show: names are in it, the rest beside it.
        ViewState kept = m_state;
        for (auto& channel : kept.channels) {
            channel.name.clear();
        }
        kept.decoders = m_pDecoders->SavedEntries();
        QString where;
        QString error;
        if (!kept.IsClean() && !WriteViewFor(path, *written, kept, where, error)) {
            statusBar()->showMessage(Utf8(kViewNotKeptText).arg(error), 10000);
        }
    }
    UserSettings().setValue(QString::fromLatin1(kDirKey), QFileInfo(path).absolutePath());
    return true;
}

bool CViewerWnd::SaveScreenshot(const QString& path, std::string& error, int width, int height) {
    resize(width, height);
    show();
    QCoreApplication::processEvents(); // the layout settles at the new size
    WaitForDecoders(*m_pDecoders);     // the annotation rows belong in the picture
    OnFitAll();
    const std::string png = EncodePng(grab().toImage());
    if (png.empty()) {
        error = "cannot encode the picture";
        return false;
    }
    return WriteWholeFile(QFile::encodeName(path).toStdString(), png, error);
}

void CViewerWnd::OnOpen() {
    const QString dir =
        UserSettings().value(QString::fromLatin1(kDirKey), QDir::homePath()).toString();
    const QString path = QFileDialog::getOpenFileName(this, WithoutAccelerator(Utf8(kOpenText)),
                                                      dir, Utf8(kOpenFilter));
    if (!path.isEmpty()) {
        OpenFile(path);
    }
}

void CViewerWnd::OnSaveAs() {
    if (!m_capture || m_capture->SampleCount() == 0) {
        Warn(Utf8(kNothingText));
        return;
    }
    const QString dir =
        UserSettings().value(QString::fromLatin1(kDirKey), QDir::homePath()).toString();
    const QString name =
        m_strFile.isEmpty()
            ? QStringLiteral("quillon-%1.vcd")
                  .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")))
            : QFileInfo(m_strFile).fileName();
    QFileDialog dialog(this, WithoutAccelerator(Utf8(kSaveAsText)), QDir(dir).filePath(name));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setNameFilters(
        {Utf8(kVcdFilter), Utf8(kCsvFilter), Utf8(kSigrokFilter), Utf8(kPngFilter)});
    dialog.setDefaultSuffix(QStringLiteral("vcd"));
    connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog](const QString& filter) {
        dialog.setDefaultSuffix(filter.section(QLatin1Char('.'), -1).remove(QLatin1Char(')')));
    });
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
        SaveFile(dialog.selectedFiles().constFirst());
    }
}

} // namespace quillon
