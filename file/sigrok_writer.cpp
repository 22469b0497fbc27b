// sigrok session files written so that sigrok-cli and PulseView show the real rate and our
// channel names without any option: the zip archive goes through libzip into our own sink,
// its sample chunks made from the capture's planes while they are compressed.
#include "file/formats.h"

#include "file/safe_text.h"
#include "file/sample_rate.h"

#include <zip.h>

#include <algorithm>
#include <cmath>
#include <memory>

namespace quillon {

namespace {

// Unpacked bytes per chunk ("logic-1-N"), and rows packed at a time while compressing.
constexpr std::int64_t kChunkBytes = std::int64_t{4} << 20;
constexpr std::int64_t kPackRows = 1 << 16;
// Fast compression: the samples of a capture compress well at any level.
constexpr zip_uint32_t kDeflateLevel = 1;
// Written as the version of the format's writer, as libsigrok 0.5 writes it.
constexpr const char* kSigrokVersion = "0.5.2";

// ---- The archive written into a ByteSink ------------------------------------------------

struct SinkSource {
    explicit SinkSource(ByteSink& s) : sink(s) {}
    ByteSink& sink;
    zip_error_t error{};
    std::uint64_t size = 0;
};

zip_int64_t SinkCallback(void* userdata, void* data, zip_uint64_t len, zip_source_cmd_t cmd) {
    auto& s = *static_cast<SinkSource*>(userdata);
    switch (cmd) {
    case ZIP_SOURCE_SUPPORTS:
        return ZIP_SOURCE_SUPPORTS_WRITABLE;
    case ZIP_SOURCE_STAT:
        // Nothing there yet: a new archive.
        zip_error_set(&s.error, ZIP_ER_READ, ENOENT);
        return -1;
    case ZIP_SOURCE_ERROR:
        return zip_error_to_data(&s.error, data, len);
    case ZIP_SOURCE_OPEN:
    case ZIP_SOURCE_CLOSE:
    case ZIP_SOURCE_READ:
    case ZIP_SOURCE_TELL:
    case ZIP_SOURCE_FREE:
    case ZIP_SOURCE_BEGIN_WRITE:
    case ZIP_SOURCE_COMMIT_WRITE:
    case ZIP_SOURCE_ROLLBACK_WRITE:
    case ZIP_SOURCE_REMOVE:
        return 0;
    case ZIP_SOURCE_SEEK:
        zip_error_set(&s.error, ZIP_ER_SEEK, 0);
        return -1;
    case ZIP_SOURCE_WRITE:
        if (!s.sink.Write(std::string_view(static_cast<const char*>(data), len))) {
            zip_error_set(&s.error, ZIP_ER_WRITE, EIO);
            return -1;
        }
        s.size = std::max(s.size, s.sink.Tell());
        return static_cast<zip_int64_t>(len);
    case ZIP_SOURCE_SEEK_WRITE: {
        const zip_int64_t offset =
            zip_source_seek_compute_offset(s.sink.Tell(), s.size, data, len, &s.error);
        if (offset < 0 || !s.sink.Seek(static_cast<std::uint64_t>(offset))) {
            zip_error_set(&s.error, ZIP_ER_SEEK, 0);
            return -1;
        }
        return 0;
    }
    case ZIP_SOURCE_TELL_WRITE:
        return static_cast<zip_int64_t>(s.sink.Tell());
    default:
        zip_error_set(&s.error, ZIP_ER_OPNOTSUPP, 0);
        return -1;
    }
}

// ---- A chunk of samples, packed while libzip reads it -------------------------------------

struct ChunkSource {
    ChunkSource(const Capture& c, const std::vector<int>& all) : capture(c), channels(all) {}
    const Capture& capture;
    std::vector<int> channels;
    std::int64_t first = 0;
    std::int64_t count = 0;
    std::size_t unit = 1;
    std::int64_t packed = 0; ///< rows packed so far
    std::vector<std::uint8_t> buffer;
    std::size_t at = 0; ///< next byte of buffer to hand out
    zip_error_t error{};
};

zip_int64_t ChunkCallback(void* userdata, void* data, zip_uint64_t len, zip_source_cmd_t cmd) {
    auto& s = *static_cast<ChunkSource*>(userdata);
    switch (cmd) {
    case ZIP_SOURCE_SUPPORTS:
        return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE,
                                              ZIP_SOURCE_STAT, ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE,
                                              -1);
    case ZIP_SOURCE_OPEN:
        s.packed = 0;
        s.buffer.clear();
        s.at = 0;
        return 0;
    case ZIP_SOURCE_READ: {
        auto* out = static_cast<std::uint8_t*>(data);
        zip_uint64_t given = 0;
        while (given < len) {
            if (s.at == s.buffer.size()) {
                const std::int64_t rows = std::min(kPackRows, s.count - s.packed);
                if (rows <= 0) {
                    break;
                }
                s.buffer.resize(static_cast<std::size_t>(rows) * s.unit);
                s.capture.PackRows(s.channels, s.first + s.packed, rows, s.buffer.data());
                s.packed += rows;
                s.at = 0;
            }
            const std::size_t take = std::min<std::size_t>(s.buffer.size() - s.at,
                                                           static_cast<std::size_t>(len - given));
            std::copy_n(s.buffer.begin() + static_cast<std::ptrdiff_t>(s.at), take, out + given);
            s.at += take;
            given += take;
        }
        return static_cast<zip_int64_t>(given);
    }
    case ZIP_SOURCE_CLOSE:
    case ZIP_SOURCE_FREE:
        return 0;
    case ZIP_SOURCE_STAT: {
        auto* st = ZIP_SOURCE_GET_ARGS(zip_stat_t, data, len, &s.error);
        if (st == nullptr) {
            return -1;
        }
        zip_stat_init(st);
        st->size = static_cast<zip_uint64_t>(s.count) * s.unit;
        st->valid |= ZIP_STAT_SIZE;
        return sizeof(zip_stat_t);
    }
    case ZIP_SOURCE_ERROR:
        return zip_error_to_data(&s.error, data, len);
    default:
        zip_error_set(&s.error, ZIP_ER_OPNOTSUPP, 0);
        return -1;
    }
}

// A name as a value of sigrok's key file: one line, valid UTF-8, its escapes written out.
std::string KeyValue(const std::string& name, int channel) {
    std::string value;
    std::string_view rest = name;
    while (!rest.empty()) {
        const char c = rest.front();
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7f) {
            value += '_';
            rest.remove_prefix(1);
            continue;
        }
        if (c == '\\') {
            value += "\\\\";
            rest.remove_prefix(1);
            continue;
        }
        // Whole UTF-8 characters pass; a byte that starts none becomes '_'.
        const std::size_t length = u < 0x80 ? 1 : u >= 0xF0 ? 4 : u >= 0xE0 ? 3 : u >= 0xC0 ? 2 : 0;
        if (length == 0 || length > rest.size() || !IsValidUtf8(rest.substr(0, length))) {
            value += '_';
            rest.remove_prefix(1);
            continue;
        }
        value.append(rest.substr(0, length));
        rest.remove_prefix(length);
    }
    if (value.empty()) {
        return DefaultChannelName(channel);
    }
    if (value.front() == ' ') {
        value.replace(0, 1, "\\s"); // a leading blank would be lost
    }
    if (value.back() == ' ') {
        value.back() = '_';
    }
    return value;
}

std::string Metadata(const Capture& capture, int unit) {
    const SamplePeriod& period = capture.Period();
    const auto wholeHz = period.WholeHz();
    const auto hz =
        wholeHz ? *wholeHz : static_cast<std::uint64_t>(std::max(1.0, std::round(period.Hz())));
    // Appended piece by piece: GCC 12 warns falsely (-Wrestrict) on "x" + string at -O3.
    std::string text = "[global]\nsigrok version=";
    text += kSigrokVersion;
    text += "\n\n[device 1]\ncapturefile=logic-1\ntotal probes=";
    text += std::to_string(capture.ChannelCount());
    text += "\nsamplerate=";
    text += SigrokRateText(hz);
    text += "\ntotal analog=0\n";
    for (int c = 0; c < capture.ChannelCount(); ++c) {
        text += "probe";
        text += std::to_string(c + 1);
        text += '=';
        text += KeyValue(capture.ChannelName(c), c);
        text += '\n';
    }
    text += "unitsize=";
    text += std::to_string(unit);
    text += '\n';
    // What sigrok's format has no place for, in a group of our own that sigrok passes over.
    std::string ours;
    if (!wholeHz) {
        ours += kPeriodKey;
        ours += PeriodText(period);
        ours += '\n';
    }
    if (const auto trigger = capture.TriggerSample()) {
        ours += kTriggerKey;
        ours += std::to_string(*trigger);
        ours += '\n';
    }
    for (int c = 0; c < capture.ChannelCount(); ++c) {
        const auto& gaps = capture.Gaps(c);
        if (gaps.empty()) {
            continue;
        }
        ours += "missing";
        ours += std::to_string(c + 1);
        ours += '=';
        for (std::size_t g = 0; g < gaps.size(); ++g) {
            if (g > 0) {
                ours += ',';
            }
            ours += std::to_string(gaps[g].first);
            ours += '-';
            ours += std::to_string(gaps[g].end);
        }
        ours += '\n';
    }
    if (!ours.empty()) {
        text += "\n[quillon]\n";
        text += ours;
    }
    return text;
}

struct ArchiveDiscarder {
    void operator()(zip_t* archive) const { zip_discard(archive); }
};

} // namespace

bool WriteSigrok(ByteSink& sink, const Capture& capture, std::string& error) {
    const int unit = (capture.ChannelCount() + 7) / 8;
    SinkSource target(sink);
    zip_error_init(&target.error);
    zip_error_t openError;
    zip_error_init(&openError);
    zip_source_t* source = zip_source_function_create(SinkCallback, &target, &openError);
    std::unique_ptr<zip_t, ArchiveDiscarder> archive(
        source != nullptr ? zip_open_from_source(source, ZIP_CREATE | ZIP_TRUNCATE, &openError)
                          : nullptr);
    if (!archive) {
        error = zip_error_strerror(&openError);
        if (source != nullptr) {
            zip_source_free(source);
        }
        zip_error_fini(&openError);
        zip_error_fini(&target.error);
        return false;
    }
    zip_error_fini(&openError);
    zip_t* za = archive.get();
    const std::string version = "2";
    const std::string metadata = Metadata(capture, unit);
    std::vector<std::unique_ptr<ChunkSource>> chunks;
    const auto fail = [&]() {
        error = zip_strerror(za);
        return false;
    };
    const auto addText = [&](const char* name, const std::string& text) {
        zip_source_t* s = zip_source_buffer(za, text.data(), text.size(), 0);
        if (s == nullptr) {
            return false;
        }
        const zip_int64_t index = zip_file_add(za, name, s, ZIP_FL_ENC_UTF_8);
        if (index < 0) {
            zip_source_free(s);
            return false;
        }
        // A few bytes: stored as they are.
        return zip_set_file_compression(za, static_cast<zip_uint64_t>(index), ZIP_CM_STORE, 0) == 0;
    };
    if (!addText("version", version) || !addText("metadata", metadata)) {
        return fail();
    }
    std::vector<int> all(static_cast<std::size_t>(capture.ChannelCount()));
    for (int c = 0; c < capture.ChannelCount(); ++c) {
        all[static_cast<std::size_t>(c)] = c;
    }
    const std::int64_t rowsPerChunk = std::max<std::int64_t>(1, kChunkBytes / unit);
    int number = 1;
    for (std::int64_t first = 0; first < capture.SampleCount(); first += rowsPerChunk, ++number) {
        auto chunk = std::make_unique<ChunkSource>(capture, all);
        chunk->first = first;
        chunk->count = std::min(rowsPerChunk, capture.SampleCount() - first);
        chunk->unit = static_cast<std::size_t>(unit);
        zip_error_init(&chunk->error);
        zip_source_t* s = zip_source_function(za, ChunkCallback, chunk.get());
        if (s == nullptr) {
            return fail();
        }
        const std::string name = "logic-1-" + std::to_string(number);
        const zip_int64_t index = zip_file_add(za, name.c_str(), s, ZIP_FL_ENC_UTF_8);
        if (index < 0) {
            zip_source_free(s);
            return fail();
        }
        zip_set_file_compression(za, static_cast<zip_uint64_t>(index), ZIP_CM_DEFLATE,
                                 kDeflateLevel);
        chunks.push_back(std::move(chunk));
    }
    if (zip_close(za) != 0) {
        fail();
        zip_error_fini(&target.error);
        for (auto& chunk : chunks) {
            zip_error_fini(&chunk->error);
        }
        return false; // the archive is discarded by its holder
    }
    archive.release();
    zip_error_fini(&target.error);
    for (auto& chunk : chunks) {
        zip_error_fini(&chunk->error);
    }
    return true;
}

} // namespace quillon
