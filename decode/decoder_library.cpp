// libsigrokdecode behind CDecoderLibrary: metadata copied into plain values as decoders are
// loaded, a session per stack reused from stretch to stretch and capture to capture (ended
// with srd_session_terminate_reset and started again, as PulseView does), the decoders'
// error messages gathered through the library's log hook.
// Python first: it must come before the standard headers.
#include <Python.h>

#include "decode/decoder_library.h"
#include "decode/decoder_wire.h"

#include <libsigrokdecode/libsigrokdecode.h>

#include <algorithm>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <utility>

namespace quillon {

namespace {

// libsigrokdecode 0.5.3 hands out True and False without a reference of their own
// (Decoder.has_channel), so a decoder that asks takes away references it never had; after a
// few dozen sessions in one process the interpreter would free True and abort ("bool_dealloc").
// This stock of extra references can never run out.
constexpr Py_ssize_t kSpareBoolReferences = Py_ssize_t{1} << 40;
// Sessions kept for reuse at most (a viewer shows a few decoders).
constexpr std::size_t kKeptSessions = 8;

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

struct HashTableCloser {
    void operator()(GHashTable* table) const { g_hash_table_destroy(table); }
};
using HashTable = std::unique_ptr<GHashTable, HashTableCloser>;

HashTable NewVariantTable() {
    return HashTable(g_hash_table_new_full(g_str_hash, g_str_equal, g_free,
                                           reinterpret_cast<GDestroyNotify>(g_variant_unref)));
}

/// The row of each class of dec (-1: none), as DecoderInfo::RowOfClass gives it.
std::vector<int> RowsOfClasses(const srd_decoder& dec) {
    const DecoderInfo info = InfoOf(dec);
    std::vector<int> rows(info.classes.size());
    for (std::size_t c = 0; c < rows.size(); ++c) {
        rows[c] = info.RowOfClass(static_cast<int>(c));
    }
    return rows;
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

CDecoderLibrary::CDecoderLibrary() {
    // The interpreter may take SIGINT for itself; the process ends on it like any other.
    struct sigaction interrupt {};
    struct sigaction terminate {};
    sigaction(SIGINT, nullptr, &interrupt);
    sigaction(SIGTERM, nullptr, &terminate);
    if (const int rc = srd_init(nullptr); rc != SRD_OK) {
        m_strStartError = std::string("cannot start libsigrokdecode: ") + srd_strerror(rc);
        return;
    }
    sigaction(SIGINT, &interrupt, nullptr);
    sigaction(SIGTERM, &terminate, nullptr);
    srd_log_callback_set(LogHook, this);
    const PyGILState_STATE gil = PyGILState_Ensure();
    Py_SET_REFCNT(Py_True, Py_REFCNT(Py_True) + kSpareBoolReferences);
    Py_SET_REFCNT(Py_False, Py_REFCNT(Py_False) + kSpareBoolReferences);
    PyGILState_Release(gil);
}

CDecoderLibrary::~CDecoderLibrary() {
    m_sessions.clear();
    if (m_strStartError.empty()) {
        srd_exit();
        srd_log_callback_set_default();
    }
}

std::vector<DecoderInfo> CDecoderLibrary::Load(const std::vector<std::string>& ids) {
    std::vector<DecoderInfo> infos;
    if (!m_strStartError.empty()) {
        return infos;
    }
    for (const auto& id : ids) {
        // A name that is no decoder is left out; the caller names it.
        if (srd_decoder_get_by_id(id.c_str()) != nullptr ||
            srd_decoder_load(id.c_str()) == SRD_OK) {
            if (const srd_decoder* dec = srd_decoder_get_by_id(id.c_str())) {
                infos.push_back(InfoOf(*dec));
            }
        }
    }
    TakeErrors(); // load complaints are not a decode's errors
    return infos;
}

std::vector<DecoderInfo> CDecoderLibrary::LoadAll() {
    std::vector<DecoderInfo> infos;
    if (!m_strStartError.empty()) {
        return infos;
    }
    // A decoder that fails to load is left out; the others still work.
    srd_decoder_load_all();
    for (const GSList* l = srd_decoder_list(); l != nullptr; l = l->next) {
        infos.push_back(InfoOf(*static_cast<const srd_decoder*>(l->data)));
    }
    std::sort(infos.begin(), infos.end(),
              [](const DecoderInfo& a, const DecoderInfo& b) { return a.id < b.id; });
    TakeErrors();
    return infos;
}

void CDecoderLibrary::NoteError(const char* message) {
    std::lock_guard lock(m_errorLock);
    m_errors.emplace_back(message);
}

std::vector<std::string> CDecoderLibrary::TakeErrors() {
    std::lock_guard lock(m_errorLock);
    return std::exchange(m_errors, {});
}

/// A session with its stack, and what the annotation hook needs.
struct DecodeSession {
    std::string key; ///< the stack and row size it was made for
    srd_session* session = nullptr;
    std::vector<const srd_decoder_inst*> instances;
    std::vector<std::vector<int>> classRows; ///< per instance: the row of each class
    std::vector<std::string> instanceIds;
    std::int64_t offset = 0;
    AnnotationFn emit;
    Annotation scratch;

    DecodeSession() = default;
    DecodeSession(const DecodeSession&) = delete;
    DecodeSession& operator=(const DecodeSession&) = delete;
    ~DecodeSession() {
        if (session != nullptr) {
            srd_session_destroy(session);
        }
    }
};

namespace {

std::string SessionKey(const DecoderStack& stack, int unitSize) {
    wire::Writer w(wire::Type::Decode);
    wire::PutStack(w, stack);
    w.U32(static_cast<std::uint32_t>(unitSize));
    return w.Finish();
}

void OnAnnotation(srd_proto_data* pdata, void* data) {
    auto* s = static_cast<DecodeSession*>(data);
    const auto found = std::find(s->instances.begin(), s->instances.end(), pdata->pdo->di);
    if (found == s->instances.end() || !s->emit) {
        return;
    }
    const auto* ann = static_cast<const srd_proto_data_annotation*>(pdata->data);
    Annotation& out = s->scratch;
    out.start = static_cast<std::int64_t>(pdata->start_sample) + s->offset;
    out.end = static_cast<std::int64_t>(pdata->end_sample) + s->offset;
    out.decoder = static_cast<int>(found - s->instances.begin());
    out.cls = ann->ann_class;
    const auto& rows = s->classRows[static_cast<std::size_t>(out.decoder)];
    out.row = out.cls >= 0 && static_cast<std::size_t>(out.cls) < rows.size()
                  ? rows[static_cast<std::size_t>(out.cls)]
                  : -1;
    out.texts.clear();
    for (char** text = ann->ann_text; text != nullptr && *text != nullptr; ++text) {
        out.texts.emplace_back(*text);
    }
    s->emit(out);
}

} // namespace

std::unique_ptr<DecodeSession> CDecoderLibrary::TakeSession(const DecoderStack& stack, int unitSize,
                                                            std::string& error) {
    const std::string key = SessionKey(stack, unitSize);
    for (auto it = m_sessions.begin(); it != m_sessions.end(); ++it) {
        if ((*it)->key == key) {
            auto session = std::move(*it);
            m_sessions.erase(it);
            return session;
        }
    }
    auto s = std::make_unique<DecodeSession>();
    s->key = key;
    if (srd_session_new(&s->session) != SRD_OK) {
        error = "cannot open a decoding session";
        return nullptr;
    }
    srd_decoder_inst* previous = nullptr;
    for (const auto& setup : stack) {
        Load({setup.id});
        const srd_decoder* dec = srd_decoder_get_by_id(setup.id.c_str());
        if (dec == nullptr) {
            error = "no protocol decoder '" + setup.id + "'";
            return nullptr;
        }
        const HashTable options = NewVariantTable();
        for (const auto& [key, value] : setup.options) {
            g_hash_table_insert(options.get(), g_strdup(key.c_str()), VariantOf(value));
        }
        srd_decoder_inst* inst = srd_inst_new(s->session, setup.id.c_str(), options.get());
        if (inst == nullptr) {
            error = "cannot set up protocol decoder '" + setup.id + "'";
            return nullptr;
        }
        const HashTable channels = NewVariantTable();
        for (const auto& [key, channel] : setup.channels) {
            g_hash_table_insert(channels.get(), g_strdup(key.c_str()),
                                g_variant_ref_sink(g_variant_new_int32(channel)));
        }
        if (srd_inst_channel_set_all(inst, channels.get()) != SRD_OK) {
            error = "cannot map the channels of '" + setup.id + "'";
            return nullptr;
        }
        if (previous != nullptr && srd_inst_stack(s->session, previous, inst) != SRD_OK) {
            error =
                "cannot stack '" + setup.id + "' on '" + stack[s->instances.size() - 1].id + "'";
            return nullptr;
        }
        s->instanceIds.push_back(Text(inst->inst_id));
        s->instances.push_back(inst);
        s->classRows.push_back(RowsOfClasses(*dec));
        previous = inst;
    }
    srd_pd_output_callback_add(s->session, SRD_OUTPUT_ANN, OnAnnotation, s.get());
    return s;
}

void CDecoderLibrary::KeepSession(std::unique_ptr<DecodeSession> session) {
    session->emit = nullptr;
    m_sessions.push_back(std::move(session));
    if (m_sessions.size() > kKeptSessions) {
        m_sessions.pop_front();
    }
}

CStretchDecode::CStretchDecode(CDecoderLibrary& library, const DecoderStack& stack,
                               std::uint64_t rate, int unitSize, std::int64_t offset,
                               AnnotationFn emit)
    : m_library(library), m_nUnitSize(unitSize) {
    library.TakeErrors();
    if (!library.StartError().empty()) {
        m_error = library.StartError();
        return;
    }
    std::string error;
    m_session = library.TakeSession(stack, unitSize, error);
    if (!m_session) {
        m_error = ErrorText(library.TakeErrors(), error);
        return;
    }
    m_session->offset = offset;
    m_session->emit = std::move(emit);
    m_instanceIds = m_session->instanceIds;
    // The sample rate goes to the instances, so it comes after them; a session ended before
    // has forgotten it.
    srd_session_metadata_set(m_session->session, SRD_CONF_SAMPLERATE, g_variant_new_uint64(rate));
    if (srd_session_start(m_session->session) != SRD_OK) {
        m_session.reset();
        m_error = ErrorText(library.TakeErrors(), "cannot start the decoders");
        m_instanceIds.clear();
    }
}

CStretchDecode::~CStretchDecode() {
    Finish();
}

bool CStretchDecode::Send(const std::uint8_t* rows, std::int64_t count) {
    if (m_error || !m_session || count <= 0) {
        return !m_error;
    }
    const auto first = static_cast<std::uint64_t>(m_nSent);
    const auto size = static_cast<std::uint64_t>(count) * static_cast<std::uint64_t>(m_nUnitSize);
    if (srd_session_send(m_session->session, first, first + static_cast<std::uint64_t>(count), rows,
                         size, static_cast<std::uint64_t>(m_nUnitSize)) != SRD_OK) {
        m_session.reset(); // the decoders' threads report as they end
        m_error = ErrorText(m_library.TakeErrors(), "protocol decoder failed");
        return false;
    }
    m_nSent += count;
    return true;
}

std::optional<std::string> CStretchDecode::Finish() {
    if (m_session) {
        // Ends the decoders' threads (a decoder's error is reported as its thread ends) and
        // resets the instances for the next start.
        srd_session_terminate_reset(m_session->session);
        if (auto errors = m_library.TakeErrors(); !errors.empty() && !m_error) {
            m_error = ErrorText(errors, "");
        }
        if (m_error) {
            m_session.reset(); // a decoder that failed starts afresh next time
        } else {
            m_library.KeepSession(std::move(m_session));
        }
    }
    return m_error;
}

} // namespace quillon
