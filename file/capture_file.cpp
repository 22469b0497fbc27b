// Capture files, for now through the 16-channel readers and writers.
#include "file/capture_file.h"

#include "capture/capture_bridge.h"
#include "capture/export.h"
#include "measure/capture_file.h"

#include <algorithm>
#include <cctype>

namespace quillon {

std::optional<FileFormat> FileFormatForPath(std::string_view path) {
    const auto dot = path.find_last_of('.');
    if (dot == std::string_view::npos) {
        return std::nullopt;
    }
    std::string ext(path.substr(dot + 1));
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (ext == "vcd") {
        return FileFormat::Vcd;
    }
    if (ext == "csv") {
        return FileFormat::Csv;
    }
    if (ext == "sr") {
        return FileFormat::Sigrok;
    }
    if (ext == "png") {
        return FileFormat::Png;
    }
    return std::nullopt;
}

std::string FileReadError::Text() const {
    std::string text = file;
    if (line > 0) {
        text += ':' + std::to_string(line);
    }
    return text + ": " + what;
}

CapturePtr ReadCaptureFile(const std::string& path, const ReadOptions& /*options*/,
                           FileReadError& error) {
    CaptureData data;
    ReadError old;
    if (!quillon::ReadCaptureFile(path, data, old)) {
        error.kind = FileReadError::Kind::Malformed;
        error.file = old.file;
        error.line = old.line;
        error.what = old.what;
        return nullptr;
    }
    return ToCapture(data);
}

bool WriteCaptureFile(const std::string& path, const Capture& capture, FileFormat format,
                      std::string& error, std::string_view date) {
    const CaptureData data = ToCaptureData(capture);
    switch (format) {
    case FileFormat::Vcd:
        return WriteWholeFile(path, ToVcd(data, date), error);
    case FileFormat::Csv:
        return WriteWholeFile(path, ToCsv(data), error);
    case FileFormat::Sigrok:
    case FileFormat::Png:
        break;
    }
    error = "this format is not written here";
    return false;
}

} // namespace quillon
