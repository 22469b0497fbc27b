// The main window's export: file dialog, writing, messages.
#include "ui/capture_export.h"

#include "capture/capture_bridge.h"
#include "display/waveform.h"
#include "file/save_file.h"
#include "ui/viewer_wnd.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>

namespace quillon {

namespace {
constexpr const char* kSaveCaption = "名前を付けて保存";
constexpr const char* kVcdFilter = "VCDファイル (*.vcd)";
constexpr const char* kCsvFilter = "CSVファイル (*.csv)";
constexpr const char* kSigrokFilter = "sigrokセッションファイル (*.sr)";
constexpr const char* kPngFilter = "PNG画像 (*.png)";
constexpr const char* kUnknownTypeText = "保存できるのは .vcd .csv .sr .png のファイルです。 \r\n";
constexpr const char* kWriteFailedText = "ファイルに保存できませんでした。 \r\n";
constexpr const char* kIncompleteSavedText =
    "取り込みが不完全です。 \r\n"
    "%2 サンプルのうち %1 サンプルが届きませんでした。 \r\n";
constexpr const char* kIncompleteDataText =
    "届かなかったサンプルは不明(VCDは x、CSVは空欄)として保存しました。 \r\n";
constexpr const char* kIncompletePictureText =
    "画像のその部分には前の取り込みのデータが表示されています。 \r\n";

struct SaveChoice {
    FileFormat format;
    const char* filter;
    const char* suffix;
};
constexpr SaveChoice kSaveChoices[] = {{FileFormat::Vcd, kVcdFilter, "vcd"},
                                       {FileFormat::Csv, kCsvFilter, "csv"},
                                       {FileFormat::Sigrok, kSigrokFilter, "sr"},
                                       {FileFormat::Png, kPngFilter, "png"}};
} // namespace

std::optional<QString> AskSavePath(QWidget* parent, FileFormat preferred, const QString& dir) {
    QStringList filters;
    const SaveChoice* chosen = &kSaveChoices[0];
    for (const auto& choice : kSaveChoices) {
        filters << QString::fromUtf8(choice.filter);
        if (choice.format == preferred) {
            chosen = &choice;
        }
    }
    const QString start = dir.isEmpty() ? QDir::homePath() : dir;
    const QString name =
        QStringLiteral("quillon-%1.%2")
            .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")),
                 QString::fromLatin1(chosen->suffix));
    QFileDialog dialog(parent, QString::fromUtf8(kSaveCaption), QDir(start).filePath(name));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilters(filters);
    dialog.selectNameFilter(QString::fromUtf8(chosen->filter));
    dialog.setDefaultSuffix(QString::fromLatin1(chosen->suffix));
    // A name typed without an extension takes the one of the filter shown.
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog,
                     [&dialog](const QString& filter) {
                         for (const auto& choice : kSaveChoices) {
                             if (filter == QString::fromUtf8(choice.filter)) {
                                 dialog.setDefaultSuffix(QString::fromLatin1(choice.suffix));
                             }
                         }
                     });
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    QString path = dialog.selectedFiles().constFirst();
    if (!FileFormatForPath(path.toStdString())) {
        path += QLatin1Char('.') + dialog.defaultSuffix();
    }
    return path;
}

SaveOutcome SaveCaptureFile(const QString& path, CaptureData data, const QImage& view) {
    const auto format = FileFormatForPath(path.toStdString());
    if (!format) {
        return {false, QString::fromUtf8(kUnknownTypeText)};
    }
    data.names = UserChannelNames();
    const std::string file = QFile::encodeName(path).toStdString();
    std::string reason = "cannot encode the picture";
    bool written = false;
    if (*format == FileFormat::Png) {
        const std::string bytes = EncodePng(view);
        written = !bytes.empty() && WriteWholeFile(file, bytes, reason);
    } else {
        written = WriteCaptureFile(file, *ToCapture(data), *format, reason,
                                   QDateTime::currentDateTime()
                                       .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))
                                       .toStdString());
    }
    if (!written) {
        return {false, QString::fromUtf8(kWriteFailedText) + QDir::toNativeSeparators(path) +
                           QStringLiteral(" \r\n(") + QString::fromLocal8Bit(reason.c_str()) +
                           QStringLiteral(")")};
    }
    SaveOutcome outcome{true, {}};
    if (const std::size_t missing = data.MissingCount(); missing > 0) {
        // Saved all the same: what did arrive is worth keeping, and the file marks the rest.
        outcome.message =
            QString::fromUtf8(kIncompleteSavedText).arg(missing).arg(data.samples.size()) +
            QString::fromUtf8(*format == FileFormat::Png ? kIncompletePictureText
                                                         : kIncompleteDataText);
    }
    return outcome;
}

} // namespace quillon
