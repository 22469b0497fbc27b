// The viewer's kept views: JSON files with a capture file, settings for the live capture.
#include "ui/viewer_state.h"

#include "file/save_file.h"

#include <QColor>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QStandardPaths>

#include <algorithm>
#include <utility>

namespace quillon {

namespace {

constexpr const char* kSuffix = ".quillon";
constexpr const char* kFormatName = "quillon-view";
constexpr int kFormatVersion = 1;
// A view file is a few kilobytes; anything much larger is not one.
constexpr qint64 kMaxViewFileBytes = 16 << 20;

// Settings kept per user (the live capture).
constexpr const char* kSettingsOrg = "Quillon";
constexpr const char* kSettingsApp = "quillon";
constexpr const char* kNamesKey = "viewer/names";
constexpr const char* kHiddenKey = "viewer/hidden";
constexpr const char* kColoursKey = "viewer/colours";

QSettings UserSettings() {
    return QSettings(QString::fromLatin1(kSettingsOrg), QString::fromLatin1(kSettingsApp));
}

std::optional<QJsonObject> ReadObject(const QString& path) {
    QFile file(path);
    if (file.size() > kMaxViewFileBytes || !file.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll());
    const QJsonObject object = document.object();
    if (!document.isObject() ||
        object.value(QStringLiteral("format")).toString() != QString::fromLatin1(kFormatName)) {
        return std::nullopt;
    }
    return object;
}

ViewState FromObject(const QJsonObject& object, const Capture& capture) {
    ViewState view;
    view.channels.resize(static_cast<std::size_t>(capture.ChannelCount()));
    for (const auto& entry : object.value(QStringLiteral("channels")).toArray()) {
        const QJsonObject channel = entry.toObject();
        const int index = channel.value(QStringLiteral("channel")).toInt(-1);
        // Only for the channel it was chosen for: same place, same name in the file.
        if (index < 0 || index >= capture.ChannelCount() ||
            channel.value(QStringLiteral("file_name")).toString().toStdString() !=
                capture.ChannelName(index)) {
            continue;
        }
        ChannelView& kept = view.channels[static_cast<std::size_t>(index)];
        kept.name = channel.value(QStringLiteral("name")).toString().trimmed();
        kept.hidden = channel.value(QStringLiteral("hidden")).toBool(false);
        kept.colour = ColourFromText(channel.value(QStringLiteral("colour")).toString());
    }
    for (const auto& decoder : object.value(QStringLiteral("decoders")).toArray()) {
        if (decoder.isString()) {
            view.decoders << decoder.toString();
        }
    }
    view.markers = object.value(QStringLiteral("markers")).toArray();
    return view;
}

QByteArray ToJson(const QString& capturePath, const Capture& capture, const ViewState& view) {
    QJsonArray channels;
    for (std::size_t c = 0; c < view.channels.size(); ++c) {
        const ChannelView& kept = view.channels[c];
        if (kept.IsDefault() || static_cast<int>(c) >= capture.ChannelCount()) {
            continue;
        }
        QJsonObject channel{{QStringLiteral("channel"), static_cast<int>(c)},
                            {QStringLiteral("file_name"),
                             QString::fromStdString(capture.ChannelName(static_cast<int>(c)))}};
        if (!kept.name.isEmpty()) {
            channel.insert(QStringLiteral("name"), kept.name);
        }
        if (kept.hidden) {
            channel.insert(QStringLiteral("hidden"), true);
        }
        if (kept.colour) {
            channel.insert(QStringLiteral("colour"), ColourText(*kept.colour));
        }
        channels.append(channel);
    }
    const QJsonObject object{
        {QStringLiteral("format"), QString::fromLatin1(kFormatName)},
        {QStringLiteral("version"), kFormatVersion},
        {QStringLiteral("file"), QFileInfo(capturePath).fileName()},
        {QStringLiteral("channels"), channels},
        {QStringLiteral("decoders"), QJsonArray::fromStringList(view.decoders)},
        {QStringLiteral("markers"), view.markers}};
    return QJsonDocument(object).toJson(QJsonDocument::Indented);
}

bool WriteJson(const QString& path, const QByteArray& json, QString& error) {
    // Through the save path: never half a view.
    std::string reason;
    if (!QDir().mkpath(QFileInfo(path).absolutePath())) {
        error = QStringLiteral("cannot make the folder of ") + path;
        return false;
    }
    if (!WriteWholeFile(QFile::encodeName(path).toStdString(),
                        std::string_view(json.constData(), static_cast<std::size_t>(json.size())),
                        reason)) {
        error = QString::fromLocal8Bit(reason.c_str());
        return false;
    }
    return true;
}

} // namespace

bool ViewState::IsClean() const {
    return decoders.isEmpty() && markers.isEmpty() &&
           std::all_of(channels.begin(), channels.end(),
                       [](const ChannelView& c) { return c.IsDefault(); });
}

QString ViewFileBeside(const QString& capturePath) {
    return QFileInfo(capturePath).absoluteFilePath() + QString::fromLatin1(kSuffix);
}

QString ViewFileForUser(const QString& capturePath) {
    const QByteArray key = QCryptographicHash::hash(
        QFileInfo(capturePath).absoluteFilePath().toUtf8(), QCryptographicHash::Sha1);
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
                           QStringLiteral("/quillon/views/");
    return folder + QString::fromLatin1(key.toHex()) + QString::fromLatin1(kSuffix);
}

ViewState ReadViewFor(const QString& capturePath, const Capture& capture, QString* from) {
    // Beside the file first; the user's copy when it is newer (written because a view that
    // came with the file, in a folder that cannot be written, was changed).
    QString beside = ViewFileBeside(capturePath);
    QString forUser = ViewFileForUser(capturePath);
    const QFileInfo besideInfo(beside);
    const QFileInfo forUserInfo(forUser);
    if (besideInfo.exists() && forUserInfo.exists() &&
        forUserInfo.lastModified() > besideInfo.lastModified()) {
        std::swap(beside, forUser);
    }
    for (const QString& path : {beside, forUser}) {
        if (const auto object = ReadObject(path)) {
            if (from != nullptr) {
                *from = path;
            }
            return FromObject(*object, capture);
        }
    }
    ViewState clean;
    clean.channels.resize(static_cast<std::size_t>(capture.ChannelCount()));
    return clean;
}

bool WriteViewFor(const QString& capturePath, const Capture& capture, const ViewState& view,
                  QString& writtenTo, QString& error) {
    const QString beside = ViewFileBeside(capturePath);
    const QString forUser = ViewFileForUser(capturePath);
    writtenTo.clear();
    if (view.IsClean()) {
        // Nothing left to keep: no file beside the capture for it.
        QFile::remove(beside);
        QFile::remove(forUser);
        return true;
    }
    const QByteArray json = ToJson(capturePath, capture, view);
    QString besideError;
    if (WriteJson(beside, json, besideError)) {
        QFile::remove(forUser); // the one beside the file is the one read first anyway
        writtenTo = beside;
        return true;
    }
    if (WriteJson(forUser, json, error)) {
        writtenTo = forUser;
        return true;
    }
    error = besideError + QStringLiteral("; ") + error;
    return false;
}

ViewState ReadUserView(int channels) {
    QSettings settings = UserSettings();
    const QStringList names = settings.value(QString::fromLatin1(kNamesKey)).toStringList();
    const QStringList colours = settings.value(QString::fromLatin1(kColoursKey)).toStringList();
    const qint64 hidden = settings.value(QString::fromLatin1(kHiddenKey), 0).toLongLong();
    ViewState view;
    view.channels.resize(static_cast<std::size_t>(std::max(channels, 0)));
    for (int c = 0; c < channels; ++c) {
        ChannelView& kept = view.channels[static_cast<std::size_t>(c)];
        kept.name = c < names.size() ? names[c].trimmed() : QString();
        kept.hidden = c < 63 && ((hidden >> c) & 1) != 0;
        kept.colour = c < colours.size() ? ColourFromText(colours[c]) : std::nullopt;
    }
    return view;
}

void WriteUserView(const ViewState& view) {
    QStringList names;
    QStringList colours;
    qint64 hidden = 0;
    for (std::size_t c = 0; c < view.channels.size(); ++c) {
        names << view.channels[c].name;
        colours << (view.channels[c].colour ? ColourText(*view.channels[c].colour) : QString());
        if (view.channels[c].hidden && c < 63) {
            hidden |= qint64{1} << c;
        }
    }
    QSettings settings = UserSettings();
    settings.setValue(QString::fromLatin1(kNamesKey), names);
    settings.setValue(QString::fromLatin1(kColoursKey), colours);
    settings.setValue(QString::fromLatin1(kHiddenKey), hidden);
}

QString ColourText(QRgb colour) {
    return QColor::fromRgb(colour).name(QColor::HexRgb);
}

std::optional<QRgb> ColourFromText(const QString& text) {
    const QColor colour = QColor::fromString(text);
    if (text.isEmpty() || !colour.isValid()) {
        return std::nullopt;
    }
    return colour.rgb();
}

} // namespace quillon
