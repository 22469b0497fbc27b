// libsigrokdecode behind CDecoderLibrary: metadata copied into plain values at start-up, one
// session per decode, the decoders' error messages gathered through the library's log hook.
#include "decode/decoder_library.h"

#include <libsigrokdecode/libsigrokdecode.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace quillon {

namespace {

// Enough samples per call to keep the library's per-call cost small, few enough that a
// cancel is seen quickly even on long captures.
constexpr std::size_t kChunkSamples = 16384;
constexpr std::uint64_t kUnitSize = 2; // 16 channels, D0 in bit 0 of the first byte
constexpr std::int64_t kPsPerSecond = 1'000'000'000'000;

std::string Text(const char* text) {
    return text != nullptr ? text : "";
}

std::vector<std::string> Texts(const GSList* list) {
    std::vector<std::string> out;
    for (const GSList* l = list; l != nullptr; l = l->next) {
        out.push_back(Text(static_cast<const char*>(l->data)));
    }
    return out;
}

OptionValue ValueOf(GVariant* value) {
    if (value != nullptr && g_variant_is_of_type(value, G_VARIANT_TYPE_INT64)) {
        return static_cast<std::int64_t>(g_variant_get_int64(value));
    }
    if (value != nullptr && g_variant_is_of_type(value, G_VARIANT_TYPE_DOUBLE)) {
        return g_variant_get_double(value);
    }
    if (value != nullptr && g_variant_is_of_type(value, G_VARIANT_TYPE_STRING)) {
        return Text(g_variant_get_string(value, nullptr));
    }
    return std::string();
}

GVariant* VariantOf(const OptionValue& value) {
    if (const auto* i = std::get_if<std::int64_t>(&value)) {
        return g_variant_ref_sink(g_variant_new_int64(*i));
    }
    if (const auto* d = std::get_if<double>(&value)) {
        return g_variant_ref_sink(g_variant_new_double(*d));
    }
    return g_variant_ref_sink(g_variant_new_string(std::get<std::string>(value).c_str()));
}

std::vector<DecoderChannel> ChannelsOf(const GSList* list) {
    std::vector<DecoderChannel> out;
    for (const GSList* l = list; l != nullptr; l = l->next) {
        const auto* ch = static_cast<const srd_channel*>(l->data);
        out.push_back({Text(ch->id), Text(ch->name), Text(ch->desc)});
    }
    return out;
}

DecoderInfo InfoOf(const srd_decoder& dec) {
    DecoderInfo info;
    info.id = Text(dec.id);
    info.name = Text(dec.name);
    info.longname = Text(dec.longname);
    info.desc = Text(dec.desc);
    info.inputs = Texts(dec.inputs);
    info.outputs = Texts(dec.outputs);
    info.channels = ChannelsOf(dec.channels);
    info.optChannels = ChannelsOf(dec.opt_channels);
    for (const GSList* l = dec.options; l != nullptr; l = l->next) {
        const auto* opt = static_cast<const srd_decoder_option*>(l->data);
        DecoderOption option{Text(opt->id), Text(opt->desc), ValueOf(opt->def), {}};
        for (const GSList* v = opt->values; v != nullptr; v = v->next) {
            option.values.push_back(ValueOf(static_cast<GVariant*>(v->data)));
        }
        info.options.push_back(std::move(option));
    }
    // Each class is a NULL-terminated array: id, description.
    for (const GSList* l = dec.annotations; l != nullptr; l = l->next) {
        const auto* const* ann = static_cast<const char* const*>(l->data);
        info.classes.push_back({Text(ann[0]), ann[0] != nullptr ? Text(ann[1]) : ""});
    }
    for (const GSList* l = dec.annotation_rows; l != nullptr; l = l->next) {
        const auto* row = static_cast<const srd_decoder_annotation_row*>(l->data);
        AnnotationRow out{Text(row->id), Text(row->desc), {}};
        for (const GSList* c = row->ann_classes; c != nullptr; c = c->next) {
            out.classes.push_back(GPOINTER_TO_INT(c->data));
        }
        info.rows.push_back(std::move(out));
    }
    return info;
}

int LogHook(void* data, int level, const char* format, va_list args) {
    if (level > SRD_LOG_ERR || data == nullptr) {
        return SRD_OK; // warnings and chatter stay out of the program's output
    }
    char message[2048];
    std::vsnprintf(message, sizeof message, format, args);
    static_cast<CDecoderLibrary*>(data)->NoteError(message);
    return SRD_OK;
}

struct SessionCloser {
    void operator()(srd_session* session) const { srd_session_destroy(session); }
};
struct HashTableCloser {
    void operator()(GHashTable* table) const { g_hash_table_destroy(table); }
};
using HashTable = std::unique_ptr<GHashTable, HashTableCloser>;

HashTable NewVariantTable() {
    return HashTable(g_hash_table_new_full(g_str_hash, g_str_equal, g_free,
                                           reinterpret_cast<GDestroyNotify>(g_variant_unref)));
}

/// What the annotation hook needs: the stack's instances and where results go.
struct DecodeContext {
    std::vector<const srd_decoder_inst*> instances;
    std::vector<const DecoderInfo*> infos;
    DecodeResult* result = nullptr;
};

void OnAnnotation(srd_proto_data* pdata, void* data) {
    auto* context = static_cast<DecodeContext*>(data);
    const auto found =
        std::find(context->instances.begin(), context->instances.end(), pdata->pdo->di);
    if (found == context->instances.end()) {
        return;
    }
    const auto* ann = static_cast<const srd_proto_data_annotation*>(pdata->data);
    Annotation out;
    out.start = static_cast<std::int64_t>(pdata->start_sample);
    out.end = static_cast<std::int64_t>(pdata->end_sample);
    out.decoder = static_cast<int>(found - context->instances.begin());
    out.cls = ann->ann_class;
    out.row = context->infos[out.decoder]->RowOfClass(out.cls);
    for (char** text = ann->ann_text; text != nullptr && *text != nullptr; ++text) {
        out.texts.emplace_back(*text);
    }
    context->result->annotations.push_back(std::move(out));
}

/// The first line of the first message: the exception and its text, without the traceback.
std::string ErrorText(const std::vector<std::string>& errors, const std::string& fallback) {
    if (errors.empty()) {
        return fallback;
    }
    std::string text = errors.front();
    if (const auto eol = text.find('\n'); eol != std::string::npos) {
        text.resize(eol);
    }
    return text;
}

} // namespace

CDecoderLibrary& CDecoderLibrary::Instance() {
    // libsigrokdecode and its interpreter exist once per process; so does this object.
    static CDecoderLibrary library;
    return library;
}

CDecoderLibrary::CDecoderLibrary() {
    if (const int rc = srd_init(nullptr); rc != SRD_OK) {
        m_strStartError = std::string("cannot start libsigrokdecode: ") + srd_strerror(rc);
        return;
    }
    srd_log_callback_set(LogHook, this);
    // A decoder that fails to load is left out; the others still work.
    srd_decoder_load_all();
    for (const GSList* l = srd_decoder_list(); l != nullptr; l = l->next) {
        m_decoders.push_back(InfoOf(*static_cast<const srd_decoder*>(l->data)));
    }
    std::sort(m_decoders.begin(), m_decoders.end(),
              [](const DecoderInfo& a, const DecoderInfo& b) { return a.id < b.id; });
    if (m_decoders.empty()) {
        m_strStartError = "libsigrokdecode found no protocol decoders";
    }
    std::lock_guard lock(m_errorLock);
    m_errors.clear(); // load complaints are not a decode's errors
}

CDecoderLibrary::~CDecoderLibrary() {
    srd_exit();
    srd_log_callback_set_default();
}

const DecoderInfo* CDecoderLibrary::FindDecoder(const std::string& id) const {
    const auto it =
        std::lower_bound(m_decoders.begin(), m_decoders.end(), id,
                         [](const DecoderInfo& d, const std::string& k) { return d.id < k; });
    return it != m_decoders.end() && it->id == id ? &*it : nullptr;
}

DecoderLookup CDecoderLibrary::Lookup() {
    return [](const std::string& id) { return Instance().FindDecoder(id); };
}

void CDecoderLibrary::NoteError(const char* message) {
    std::lock_guard lock(m_errorLock);
    m_errors.emplace_back(message);
}

DecodeResult CDecoderLibrary::Decode(const CaptureData& capture, const DecoderStack& stack,
                                     const std::atomic<bool>* cancel) {
    DecodeResult result;
    if (!m_strStartError.empty()) {
        result.error = m_strStartError;
        return result;
    }
    if (stack.empty()) {
        return result;
    }
    std::lock_guard decodeLock(m_decodeLock);
    {
        std::lock_guard lock(m_errorLock);
        m_errors.clear();
    }
    srd_session* raw = nullptr;
    if (srd_session_new(&raw) != SRD_OK) {
        result.error = "cannot open a decoding session";
        return result;
    }
    std::unique_ptr<srd_session, SessionCloser> session(raw);
    // The decoders' threads report a Python error as they end, which is when the session is
    // destroyed: only then are the messages complete.
    const auto fail = [&](const std::string& fallback) {
        session.reset();
        std::lock_guard lock(m_errorLock);
        result.error = ErrorText(m_errors, fallback);
        return result;
    };

    DecodeContext context;
    context.result = &result;
    srd_decoder_inst* previous = nullptr;
    for (const auto& setup : stack) {
        const DecoderInfo* info = FindDecoder(setup.id);
        if (info == nullptr) {
            return fail("no protocol decoder '" + setup.id + "'");
        }
        const HashTable options = NewVariantTable();
        for (const auto& [key, value] : setup.options) {
            g_hash_table_insert(options.get(), g_strdup(key.c_str()), VariantOf(value));
        }
        srd_decoder_inst* inst = srd_inst_new(session.get(), setup.id.c_str(), options.get());
        if (inst == nullptr) {
            return fail("cannot set up protocol decoder '" + setup.id + "'");
        }
        const HashTable channels = NewVariantTable();
        for (const auto& [key, channel] : setup.channels) {
            g_hash_table_insert(channels.get(), g_strdup(key.c_str()),
                                g_variant_ref_sink(g_variant_new_int32(channel)));
        }
        if (srd_inst_channel_set_all(inst, channels.get()) != SRD_OK) {
            return fail("cannot map the channels of '" + setup.id + "'");
        }
        if (previous != nullptr && srd_inst_stack(session.get(), previous, inst) != SRD_OK) {
            return fail("cannot stack '" + setup.id + "' on '" +
                        stack[context.instances.size() - 1].id + "'");
        }
        result.instanceIds.push_back(Text(inst->inst_id));
        context.instances.push_back(inst);
        context.infos.push_back(info);
        previous = inst;
    }
    // Instances take the sample rate when it is set, so it comes after them.
    const auto rate =
        static_cast<std::uint64_t>(kPsPerSecond / std::max<std::int64_t>(1, capture.PeriodPs()));
    srd_session_metadata_set(session.get(), SRD_CONF_SAMPLERATE, g_variant_new_uint64(rate));
    srd_pd_output_callback_add(session.get(), SRD_OUTPUT_ANN, OnAnnotation, &context);
    if (srd_session_start(session.get()) != SRD_OK) {
        return fail("cannot start the decoders");
    }

    std::vector<std::uint8_t> bytes(capture.samples.size() * kUnitSize);
    for (std::size_t i = 0; i < capture.samples.size(); ++i) {
        bytes[2 * i] = static_cast<std::uint8_t>(capture.samples[i] & 0xff);
        bytes[2 * i + 1] = static_cast<std::uint8_t>(capture.samples[i] >> 8);
    }
    for (std::size_t first = 0; first < capture.samples.size(); first += kChunkSamples) {
        if (cancel != nullptr && cancel->load()) {
            result.cancelled = true;
            break;
        }
        const std::size_t count = std::min(kChunkSamples, capture.samples.size() - first);
        if (srd_session_send(session.get(), first, first + count, bytes.data() + first * kUnitSize,
                             count * kUnitSize, kUnitSize) != SRD_OK) {
            return fail("protocol decoder '" + stack.front().id + "' failed");
        }
    }
    srd_session_terminate_reset(session.get());
    session.reset();
    std::lock_guard lock(m_errorLock);
    if (!m_errors.empty()) {
        result.error = ErrorText(m_errors, "");
    }
    return result;
}

} // namespace quillon
