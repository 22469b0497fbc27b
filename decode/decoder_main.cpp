// quillon-decoder: the decoding process of quillon and quillon-cli. It alone holds the decoding
// library and its Python interpreter, so that a decoder that loops, sleeps or grows without
// end is ended by killing this process, whatever it is doing, and the library's small leak
// per session goes when the process does. It answers the messages of decode/decoder_wire.h
// on its standard input, a stream socket; stray prints of decoders go to standard error.
#include "decode/decoder_library.h"
#include "decode/decoder_wire.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <sys/prctl.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace quillon;
using Clock = std::chrono::steady_clock;

constexpr int kSocket = 0;
// A batch of annotations goes out at this size or after this long, so that a slow decoder's
// results still arrive as they come.
constexpr std::size_t kBatchBytes = 64 * 1024;
constexpr auto kBatchAge = std::chrono::milliseconds(20);
// The library leaks a little per session: the process asks to be replaced once it has grown
// this much beyond its size after its first decode.
constexpr long kRecycleGrowthKiB = 1024;

/// Keeps the decoders' compiled Python in the user's cache: they are installed where nothing
/// can be written, so the interpreter would otherwise compile every decoder it loads at every
/// start (a third of a start's time). Only that folder is written to, whatever
/// PYTHONDONTWRITEBYTECODE says, which is about writing beside the sources.
void UseBytecodeCache() {
    if (std::getenv("PYTHONPYCACHEPREFIX") != nullptr) {
        return; // the user's own choice
    }
    std::string dir;
    if (const char* cache = std::getenv("XDG_CACHE_HOME"); cache != nullptr && *cache == '/') {
        dir = cache;
    } else if (const char* home = std::getenv("HOME"); home != nullptr && *home == '/') {
        dir = std::string(home) + "/.cache";
    } else {
        return;
    }
    ::setenv("PYTHONPYCACHEPREFIX", (dir + "/quillon/python").c_str(), 1);
    ::unsetenv("PYTHONDONTWRITEBYTECODE");
}

long ResidentKiB() {
    long pages = 0;
    long resident = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) {
            resident = 0;
        }
        std::fclose(f);
    }
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

/// The socket: whole messages in, whole messages out. A broken socket ends the process.
class CChannel {
public:
    /// The next message; nullopt at the end of the stream.
    std::optional<wire::Message> Next() {
        m_buffer.erase(0, m_nConsumed);
        m_nConsumed = 0;
        while (true) {
            bool corrupt = false;
            if (auto message = wire::NextMessage(m_buffer, corrupt)) {
                m_nConsumed = message->size;
                return message;
            }
            if (corrupt) {
                return std::nullopt;
            }
            char chunk[65536];
            const ssize_t got = ::read(kSocket, chunk, sizeof chunk);
            if (got < 0 && errno == EINTR) {
                continue;
            }
            if (got <= 0) {
                return std::nullopt;
            }
            m_buffer.append(chunk, static_cast<std::size_t>(got));
        }
    }

    /// Any thread: the decoders' threads and a batch's timer send too.
    void Send(const std::string& bytes) {
        std::lock_guard lock(m_sendLock);
        for (std::size_t done = 0; done < bytes.size();) {
            const ssize_t put = ::write(kSocket, bytes.data() + done, bytes.size() - done);
            if (put < 0 && errno == EINTR) {
                continue;
            }
            if (put <= 0) {
                std::_Exit(0); // the program has gone: nobody waits for the rest
            }
            done += static_cast<std::size_t>(put);
        }
    }

private:
    std::mutex m_sendLock;
    std::string m_buffer;
    std::size_t m_nConsumed = 0;
};

/// Annotations in batches; the decoders' threads add, the main thread flushes, and a timer
/// sends what a decoder left waiting (one that found something and then went quiet, or
/// never returns).
class CBatch {
public:
    explicit CBatch(CChannel& channel) : m_channel(channel) {
        m_timer = std::thread([this] {
            std::unique_lock lock(m_lock);
            while (!m_bDone) {
                m_wake.wait_for(lock, kBatchAge);
                if (m_nCount > 0 && Clock::now() - m_sent >= kBatchAge) {
                    FlushLocked();
                }
            }
        });
    }
    ~CBatch() {
        {
            std::lock_guard lock(m_lock);
            m_bDone = true;
        }
        m_wake.notify_all();
        m_timer.join();
    }
    CBatch(const CBatch&) = delete;
    CBatch& operator=(const CBatch&) = delete;

    void Add(const Annotation& a) {
        std::lock_guard lock(m_lock);
        wire::PutAnnotation(m_writer, a);
        ++m_nCount;
        if (m_writer.Finish().size() >= kBatchBytes || Clock::now() - m_sent >= kBatchAge) {
            FlushLocked();
        }
    }
    void Flush() {
        std::lock_guard lock(m_lock);
        FlushLocked();
    }

private:
    void FlushLocked() {
        if (m_nCount > 0) {
            m_channel.Send(m_writer.Finish());
        }
        m_writer = wire::Writer(wire::Type::Annotations);
        m_nCount = 0;
        m_sent = Clock::now();
    }
    CChannel& m_channel;
    std::mutex m_lock;
    std::condition_variable m_wake;
    bool m_bDone = false;
    wire::Writer m_writer{wire::Type::Annotations};
    std::size_t m_nCount = 0;
    Clock::time_point m_sent = Clock::now();
    std::thread m_timer; // last: it uses everything above
};

void SendCatalog(CChannel& channel, const std::vector<DecoderInfo>& infos) {
    wire::Writer w(wire::Type::Catalog);
    w.U32(static_cast<std::uint32_t>(infos.size()));
    for (const auto& info : infos) {
        wire::PutDecoderInfo(w, info);
    }
    channel.Send(w.Finish());
}

/// One Decode request: its Stretch and Rows messages up to End, decoded as they come.
/// False when the stream broke off.
bool RunDecode(CDecoderLibrary& library, CChannel& channel, wire::Reader& request,
               std::optional<long>& baselineKiB) {
    const DecoderStack stack = wire::GetStack(request);
    const auto rate = static_cast<std::uint64_t>(request.I64());
    const int unitSize = static_cast<int>(request.U32());
    CBatch batch(channel);
    std::unique_ptr<CStretchDecode> stretch;
    std::optional<std::string> error;
    bool started = false;
    if (request.Failed() || stack.empty() || rate == 0 || unitSize < 1) {
        error = "malformed decode request";
    }
    const auto finishStretch = [&] {
        if (stretch) {
            if (auto failed = stretch->Finish(); failed && !error) {
                error = std::move(failed);
            }
            stretch.reset();
        }
    };
    while (auto message = channel.Next()) {
        wire::Reader r(message->payload);
        if (message->type == wire::Type::Stretch) {
            finishStretch();
            const std::int64_t first = r.I64();
            if (error) {
                continue; // the stack has failed: the rest of its samples are read, not decoded
            }
            stretch =
                std::make_unique<CStretchDecode>(library, stack, rate, unitSize, first,
                                                 [&batch](const Annotation& a) { batch.Add(a); });
            if (!started && !stretch->InstanceIds().empty()) {
                wire::Writer w(wire::Type::Started);
                wire::PutStrings(w, stretch->InstanceIds());
                channel.Send(w.Finish());
                started = true;
            }
        } else if (message->type == wire::Type::Rows) {
            const std::string_view rows = message->payload;
            if (stretch && !error) {
                const auto count = static_cast<std::int64_t>(rows.size()) / unitSize;
                if (!stretch->Send(reinterpret_cast<const std::uint8_t*>(rows.data()), count)) {
                    finishStretch();
                }
            }
            batch.Flush();
        } else if (message->type == wire::Type::End) {
            finishStretch();
            batch.Flush();
            const long size = ResidentKiB();
            if (!baselineKiB) {
                baselineKiB = size;
            }
            const bool recycle = size > *baselineKiB + kRecycleGrowthKiB;
            wire::Writer w(wire::Type::Done);
            w.U8(error ? 1 : 0);
            w.Str(error ? *error : std::string());
            w.U8(recycle ? 1 : 0);
            channel.Send(w.Finish());
            return true;
        } else {
            return false;
        }
    }
    return false;
}

} // namespace

int main(int argc, char** argv) {
    // Ends with the program that started it, even when that one is killed.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (argc == 3 && std::strcmp(argv[1], "--parent") == 0 &&
        ::getppid() != static_cast<pid_t>(std::atol(argv[2]))) {
        return 0; // the program went before the line above took effect
    }
    if (argc == 1 || (argc == 3 && std::strcmp(argv[1], "--parent") == 0)) {
        // Started by a program, the socket on standard input.
    } else {
        std::fputs("quillon-decoder: the decoding process of quillon and quillon-cli; "
                   "not for use on its own\n",
                   stderr);
        return 2;
    }
    // A decoder's print() must not reach the socket.
    ::dup2(STDERR_FILENO, STDOUT_FILENO);
    std::signal(SIGPIPE, SIG_IGN);

    UseBytecodeCache();
    CChannel channel;
    CDecoderLibrary library;
    std::optional<long> baselineKiB; // the size after the first decode
    while (auto message = channel.Next()) {
        wire::Reader r(message->payload);
        if (!library.StartError().empty() && message->type != wire::Type::Stretch &&
            message->type != wire::Type::Rows && message->type != wire::Type::End) {
            wire::Writer w(wire::Type::Failure);
            w.Str(library.StartError());
            channel.Send(w.Finish());
            continue;
        }
        switch (message->type) {
        case wire::Type::Load:
            SendCatalog(channel, library.Load(wire::GetStrings(r)));
            break;
        case wire::Type::ListAll:
            SendCatalog(channel, library.LoadAll());
            break;
        case wire::Type::Decode:
            if (!RunDecode(library, channel, r, baselineKiB)) {
                std::_Exit(0);
            }
            break;
        default:
            break; // a stray part of a request answered already
        }
    }
    // The program has gone and every answer is out: nothing is left for the interpreter's
    // own shutdown to do.
    std::_Exit(0);
}
