// Encoding and decoding the decoding process's messages.
#include "decode/decoder_wire.h"

#include <cstring>

namespace quillon::wire {

namespace {

// Counts are bounded so that a corrupt stream cannot ask for gigabytes.
constexpr std::uint32_t kMaxItems = 0xffff;

template <typename T> void PutLe(std::string& out, T v) {
    for (std::size_t i = 0; i < sizeof(T); ++i) {
        out.push_back(static_cast<char>(static_cast<std::uint8_t>(v >> (8 * i))));
    }
}

template <typename T> T GetLe(const char* at) {
    T v = 0;
    for (std::size_t i = 0; i < sizeof(T); ++i) {
        v = static_cast<T>(
            v | static_cast<T>(static_cast<T>(static_cast<std::uint8_t>(at[i])) << (8 * i)));
    }
    return v;
}

void PutOption(Writer& w, const OptionValue& v) {
    if (const auto* i = std::get_if<std::int64_t>(&v)) {
        w.U8(0);
        w.I64(*i);
    } else if (const auto* d = std::get_if<double>(&v)) {
        w.U8(1);
        w.F64(*d);
    } else {
        w.U8(2);
        w.Str(std::get<std::string>(v));
    }
}

OptionValue GetOption(Reader& r) {
    switch (r.U8()) {
    case 0:
        return r.I64();
    case 1:
        return r.F64();
    default:
        return std::string(r.Str());
    }
}

void PutChannels(Writer& w, const std::vector<DecoderChannel>& channels) {
    w.U32(static_cast<std::uint32_t>(channels.size()));
    for (const auto& c : channels) {
        w.Str(c.id);
        w.Str(c.name);
        w.Str(c.desc);
    }
}

std::vector<DecoderChannel> GetChannels(Reader& r) {
    std::vector<DecoderChannel> channels(r.Count(kMaxItems));
    for (auto& c : channels) {
        c.id = r.Str();
        c.name = r.Str();
        c.desc = r.Str();
    }
    return channels;
}

} // namespace

Writer::Writer(Type type) {
    m_bytes.assign(4, '\0');
    m_bytes.push_back(static_cast<char>(type));
}

void Writer::U8(std::uint8_t v) {
    m_bytes.push_back(static_cast<char>(v));
}

void Writer::U32(std::uint32_t v) {
    PutLe(m_bytes, v);
}

void Writer::I64(std::int64_t v) {
    PutLe(m_bytes, static_cast<std::uint64_t>(v));
}

void Writer::F64(double v) {
    std::uint64_t bits = 0;
    std::memcpy(&bits, &v, sizeof bits);
    PutLe(m_bytes, bits);
}

void Writer::Str(std::string_view v) {
    U32(static_cast<std::uint32_t>(v.size()));
    m_bytes.append(v);
}

void Writer::Bytes(const std::uint8_t* data, std::size_t size) {
    m_bytes.append(reinterpret_cast<const char*>(data), size);
}

const std::string& Writer::Finish() {
    const auto length = static_cast<std::uint32_t>(m_bytes.size() - 4);
    for (std::size_t i = 0; i < 4; ++i) {
        m_bytes[i] = static_cast<char>(static_cast<std::uint8_t>(length >> (8 * i)));
    }
    return m_bytes;
}

bool Reader::Take(std::size_t size, const char*& at) {
    if (m_bFailed || m_rest.size() < size) {
        m_bFailed = true;
        return false;
    }
    at = m_rest.data();
    m_rest.remove_prefix(size);
    return true;
}

std::uint8_t Reader::U8() {
    const char* at = nullptr;
    return Take(1, at) ? static_cast<std::uint8_t>(*at) : 0;
}

std::uint32_t Reader::U32() {
    const char* at = nullptr;
    return Take(4, at) ? GetLe<std::uint32_t>(at) : 0;
}

std::int64_t Reader::I64() {
    const char* at = nullptr;
    return Take(8, at) ? static_cast<std::int64_t>(GetLe<std::uint64_t>(at)) : 0;
}

double Reader::F64() {
    const char* at = nullptr;
    if (!Take(8, at)) {
        return 0.0;
    }
    const auto bits = GetLe<std::uint64_t>(at);
    double v = 0.0;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

std::uint32_t Reader::Count(std::uint32_t max) {
    const std::uint32_t n = U32();
    if (n > max) {
        m_bFailed = true;
        return 0;
    }
    return n;
}

std::string_view Reader::Str() {
    return Bytes(U32());
}

std::string_view Reader::Bytes(std::size_t size) {
    const char* at = nullptr;
    return Take(size, at) ? std::string_view(at, size) : std::string_view();
}

std::optional<Message> NextMessage(std::string_view buffer, bool& corrupt) {
    if (buffer.size() < kHeaderBytes) {
        return std::nullopt;
    }
    const auto length = GetLe<std::uint32_t>(buffer.data());
    if (length < 1 || length > kMaxMessageBytes) {
        corrupt = true;
        return std::nullopt;
    }
    if (buffer.size() < 4 + std::size_t{length}) {
        return std::nullopt;
    }
    return Message{static_cast<Type>(static_cast<std::uint8_t>(buffer[4])),
                   buffer.substr(kHeaderBytes, length - 1), 4 + std::size_t{length}};
}

void PutDecoderInfo(Writer& w, const DecoderInfo& info) {
    w.Str(info.id);
    w.Str(info.name);
    w.Str(info.longname);
    w.Str(info.desc);
    PutStrings(w, info.inputs);
    PutStrings(w, info.outputs);
    PutChannels(w, info.channels);
    PutChannels(w, info.optChannels);
    w.U32(static_cast<std::uint32_t>(info.options.size()));
    for (const auto& o : info.options) {
        w.Str(o.id);
        w.Str(o.desc);
        PutOption(w, o.def);
        w.U32(static_cast<std::uint32_t>(o.values.size()));
        for (const auto& v : o.values) {
            PutOption(w, v);
        }
    }
    w.U32(static_cast<std::uint32_t>(info.classes.size()));
    for (const auto& c : info.classes) {
        w.Str(c.id);
        w.Str(c.desc);
    }
    w.U32(static_cast<std::uint32_t>(info.rows.size()));
    for (const auto& row : info.rows) {
        w.Str(row.id);
        w.Str(row.desc);
        w.U32(static_cast<std::uint32_t>(row.classes.size()));
        for (const int c : row.classes) {
            w.U32(static_cast<std::uint32_t>(c));
        }
    }
}

DecoderInfo GetDecoderInfo(Reader& r) {
    DecoderInfo info;
    info.id = r.Str();
    info.name = r.Str();
    info.longname = r.Str();
    info.desc = r.Str();
    info.inputs = GetStrings(r);
    info.outputs = GetStrings(r);
    info.channels = GetChannels(r);
    info.optChannels = GetChannels(r);
    info.options.resize(r.Count(kMaxItems));
    for (auto& o : info.options) {
        o.id = r.Str();
        o.desc = r.Str();
        o.def = GetOption(r);
        o.values.resize(r.Count(kMaxItems));
        for (auto& v : o.values) {
            v = GetOption(r);
        }
    }
    info.classes.resize(r.Count(kMaxItems));
    for (auto& c : info.classes) {
        c.id = r.Str();
        c.desc = r.Str();
    }
    info.rows.resize(r.Count(kMaxItems));
    for (auto& row : info.rows) {
        row.id = r.Str();
        row.desc = r.Str();
        row.classes.resize(r.Count(kMaxItems));
        for (int& c : row.classes) {
            c = static_cast<int>(r.U32());
        }
    }
    return info;
}

void PutStack(Writer& w, const DecoderStack& stack) {
    w.U32(static_cast<std::uint32_t>(stack.size()));
    for (const auto& setup : stack) {
        w.Str(setup.id);
        w.U32(static_cast<std::uint32_t>(setup.channels.size()));
        for (const auto& [id, channel] : setup.channels) {
            w.Str(id);
            w.U32(static_cast<std::uint32_t>(channel));
        }
        w.U32(static_cast<std::uint32_t>(setup.options.size()));
        for (const auto& [id, value] : setup.options) {
            w.Str(id);
            PutOption(w, value);
        }
    }
}

DecoderStack GetStack(Reader& r) {
    DecoderStack stack(r.Count(kMaxItems));
    for (auto& setup : stack) {
        setup.id = r.Str();
        for (std::uint32_t n = r.Count(kMaxItems); n > 0 && !r.Failed(); --n) {
            const std::string id(r.Str());
            setup.channels[id] = static_cast<int>(r.U32());
        }
        for (std::uint32_t n = r.Count(kMaxItems); n > 0 && !r.Failed(); --n) {
            const std::string id(r.Str());
            setup.options[id] = GetOption(r);
        }
    }
    return stack;
}

void PutStrings(Writer& w, const std::vector<std::string>& texts) {
    w.U32(static_cast<std::uint32_t>(texts.size()));
    for (const auto& t : texts) {
        w.Str(t);
    }
}

std::vector<std::string> GetStrings(Reader& r) {
    std::vector<std::string> texts;
    for (std::uint32_t n = r.Count(kMaxItems); n > 0 && !r.Failed(); --n) {
        texts.emplace_back(r.Str());
    }
    return texts;
}

void PutAnnotation(Writer& w, const Annotation& a) {
    w.I64(a.start);
    w.I64(a.end);
    w.U32(static_cast<std::uint32_t>(a.decoder));
    w.U32(static_cast<std::uint32_t>(a.cls));
    w.U32(static_cast<std::uint32_t>(a.row));
    w.U32(static_cast<std::uint32_t>(a.texts.size()));
    for (const auto& t : a.texts) {
        w.Str(t);
    }
}

void GetAnnotation(Reader& r, Annotation& a) {
    a.start = r.I64();
    a.end = r.I64();
    a.decoder = static_cast<int>(r.U32());
    a.cls = static_cast<int>(r.U32());
    a.row = static_cast<int>(r.U32());
    a.texts.clear();
    for (std::uint32_t n = r.Count(kMaxItems); n > 0 && !r.Failed(); --n) {
        a.texts.push_back(r.Str());
    }
}

} // namespace quillon::wire
