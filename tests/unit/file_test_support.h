// Helpers of the capture-file tests: a channel's samples as text, and zip archives made in
// memory the way other programs make sigrok session files.
#pragma once

#include "capture/capture.h"

#include <zip.h>

#include <string>
#include <utility>
#include <vector>

namespace quillon::test {

/// A channel's samples as '0', '1' and 'x' (not received).
inline std::string Levels(const Capture& capture, int channel) {
    std::string text;
    for (std::int64_t i = 0; i < capture.SampleCount(); ++i) {
        text += !capture.IsReceived(channel, i) ? 'x' : capture.Level(channel, i) ? '1' : '0';
    }
    return text;
}

/// A zip archive of the named entries, in order, stored without compression.
inline std::string ZipOf(const std::vector<std::pair<std::string, std::string>>& entries) {
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* target = zip_source_buffer_create(nullptr, 0, 0, &error);
    zip_t* archive = zip_open_from_source(target, ZIP_TRUNCATE, &error);
    zip_error_fini(&error);
    zip_source_keep(target);
    for (const auto& [name, data] : entries) {
        zip_source_t* s = zip_source_buffer(archive, data.data(), data.size(), 0);
        const zip_int64_t index = zip_file_add(archive, name.c_str(), s, 0);
        if (index < 0) {
            zip_source_free(s);
            continue;
        }
        zip_set_file_compression(archive, static_cast<zip_uint64_t>(index), ZIP_CM_STORE, 0);
    }
    std::string bytes;
    if (zip_close(archive) == 0 && zip_source_open(target) == 0) {
        char buffer[4096];
        for (zip_int64_t n; (n = zip_source_read(target, buffer, sizeof buffer)) > 0;) {
            bytes.append(buffer, static_cast<std::size_t>(n));
        }
        zip_source_close(target);
    }
    zip_source_free(target);
    return bytes;
}

/// One entry of a zip archive; empty when it is not there.
inline std::string ZipEntry(const std::string& zip, const char* name) {
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* source = zip_source_buffer_create(zip.data(), zip.size(), 0, &error);
    zip_t* archive = zip_open_from_source(source, ZIP_RDONLY, &error);
    zip_error_fini(&error);
    std::string text;
    if (archive == nullptr) {
        zip_source_free(source);
        return text;
    }
    if (zip_file_t* file = zip_fopen(archive, name, 0)) {
        char buffer[4096];
        for (zip_int64_t n; (n = zip_fread(file, buffer, sizeof buffer)) > 0;) {
            text.append(buffer, static_cast<std::size_t>(n));
        }
        zip_fclose(file);
    }
    zip_discard(archive);
    return text;
}

} // namespace quillon::test
