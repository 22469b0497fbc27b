// The decoding process from the program's side: spawning it on a socket pair, the requests,
// and the wait for answers that a stop descriptor can end at any moment.
#include "decode/decoder_process.h"

#include "decode/decoder_wire.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace quillon {

namespace {

constexpr const char* kHelperName = "quillon-decoder";
constexpr const char* kHelperEnv = "QUILLON_DECODER";
constexpr std::size_t kReadChunk = 256 * 1024;

std::string DirOfProgram() {
    char path[4096];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) {
        return ".";
    }
    std::string dir(path, static_cast<std::size_t>(n));
    return dir.substr(0, dir.find_last_of('/'));
}

bool IsExecutable(const std::string& path) {
    return ::access(path.c_str(), X_OK) == 0;
}

std::string ExitText(int status) {
    if (WIFSIGNALED(status)) {
        return "the decoding process was ended by signal " + std::to_string(WTERMSIG(status)) +
               " (" + ::strsignal(WTERMSIG(status)) + ")";
    }
    return "the decoding process ended with status " + std::to_string(WEXITSTATUS(status));
}

} // namespace

std::string DecoderHelperPath() {
    if (const char* path = std::getenv(kHelperEnv); path != nullptr && *path != '\0') {
        return path;
    }
    const std::string dir = DirOfProgram();
    const std::string beside = dir + "/" + kHelperName;
    if (IsExecutable(beside)) {
        return beside;
    }
    return dir + "/../libexec/quillon/" + kHelperName;
}

CDecoderProcess::CDecoderProcess(std::string helperPath) : m_strPath(std::move(helperPath)) {}

CDecoderProcess::~CDecoderProcess() {
    Kill();
}

bool CDecoderProcess::Start(std::string& error) {
    if (m_pid > 0) {
        return true;
    }
    int ends[2] = {-1, -1};
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
        error =
            std::string("cannot make a socket for the decoding process: ") + std::strerror(errno);
        return false;
    }
    // The child's end becomes its standard input, which dup2 leaves open across exec; an end
    // that happens to be descriptor 0 already is moved first, as dup2 onto itself would keep
    // its close-on-exec flag.
    int childEnd = ends[1];
    if (childEnd == STDIN_FILENO) {
        childEnd = ::fcntl(ends[1], F_DUPFD_CLOEXEC, 3);
        ::close(ends[1]);
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, childEnd, STDIN_FILENO);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    // The caller may block or catch signals (a command waiting for Ctrl+C): the process
    // starts with the defaults.
    sigset_t none;
    sigset_t defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    for (const int sig : {SIGINT, SIGTERM, SIGPIPE, SIGHUP, SIGQUIT}) {
        sigaddset(&defaults, sig);
    }
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    const std::string parent = std::to_string(::getpid());
    std::string arg0 = m_strPath;
    std::string arg1 = "--parent";
    std::string arg2 = parent;
    char* argv[] = {arg0.data(), arg1.data(), arg2.data(), nullptr};
    pid_t pid = -1;
    const int rc = ::posix_spawn(&pid, m_strPath.c_str(), &actions, &attr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    ::close(childEnd);
    if (rc != 0) {
        ::close(ends[0]);
        error = "cannot start " + m_strPath + ": " + std::strerror(rc);
        return false;
    }
    ::fcntl(ends[0], F_SETFL, ::fcntl(ends[0], F_GETFL) | O_NONBLOCK);
    m_pid = pid;
    m_nSocket = ends[0];
    m_inbox.clear();
    return true;
}

void CDecoderProcess::Kill() {
    if (m_nSocket >= 0) {
        ::close(m_nSocket);
        m_nSocket = -1;
    }
    if (m_pid > 0) {
        ::kill(m_pid, SIGKILL);
        while (::waitpid(m_pid, nullptr, 0) < 0 && errno == EINTR) {
        }
        m_pid = -1;
    }
    m_inbox.clear();
}

void CDecoderProcess::Release() {
    if (m_nSocket >= 0) {
        ::close(m_nSocket);
        m_nSocket = -1;
    }
    m_pid = -1;
    m_inbox.clear();
}

CDecoderProcess::Wait CDecoderProcess::SendAll(const std::string& bytes) {
    if (m_nSocket < 0) {
        return Wait::Broken;
    }
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t put = ::send(m_nSocket, bytes.data() + done, bytes.size() - done,
                                   MSG_NOSIGNAL | MSG_DONTWAIT);
        if (put > 0) {
            done += static_cast<std::size_t>(put);
            continue;
        }
        if (put < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
            return Wait::Broken;
        }
        pollfd fds[2] = {{m_nSocket, POLLOUT, 0}, {m_nStopFd, POLLIN, 0}};
        if (::poll(fds, m_nStopFd >= 0 ? 2 : 1, -1) < 0 && errno != EINTR) {
            return Wait::Broken;
        }
        if (m_nStopFd >= 0 && (fds[1].revents & POLLIN) != 0) {
            return Wait::Stopped;
        }
    }
    return Wait::Ready;
}

CDecoderProcess::Wait CDecoderProcess::ReadMore() {
    if (m_nSocket < 0) {
        return Wait::Broken;
    }
    while (true) {
        pollfd fds[2] = {{m_nSocket, POLLIN, 0}, {m_nStopFd, POLLIN, 0}};
        if (::poll(fds, m_nStopFd >= 0 ? 2 : 1, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return Wait::Broken;
        }
        if (m_nStopFd >= 0 && (fds[1].revents & POLLIN) != 0) {
            return Wait::Stopped;
        }
        if (fds[0].revents == 0) {
            continue;
        }
        const std::size_t had = m_inbox.size();
        m_inbox.resize(had + kReadChunk);
        const ssize_t got = ::recv(m_nSocket, m_inbox.data() + had, kReadChunk, MSG_DONTWAIT);
        m_inbox.resize(had + static_cast<std::size_t>(std::max<ssize_t>(got, 0)));
        if (got > 0) {
            return Wait::Ready;
        }
        if (got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
            return Wait::Broken;
        }
    }
}

DecodeOutcome CDecoderProcess::Lost(Wait wait) {
    DecodeOutcome outcome;
    if (wait == Wait::Stopped) {
        Kill();
        outcome.status = DecodeStatus::Stopped;
        return outcome;
    }
    outcome.status = DecodeStatus::Failed;
    if (m_nSocket >= 0) {
        ::close(m_nSocket);
        m_nSocket = -1;
    }
    int status = 0;
    if (m_pid > 0) {
        // The socket broke: the process has ended or is ending; a stuck one is ended here.
        for (int tries = 0; tries < 100; ++tries) {
            if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_pid = -1;
                break;
            }
            ::usleep(1000);
        }
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, &status, 0);
            m_pid = -1;
        }
        outcome.error = ExitText(status);
    } else {
        outcome.error = "the decoding process is not running";
    }
    m_inbox.clear();
    return outcome;
}

DecodeOutcome CDecoderProcess::RequestCatalog(const std::vector<std::string>& ids, bool all) {
    std::string error;
    if (!Start(error)) {
        return {DecodeStatus::Failed, error};
    }
    wire::Writer w(all ? wire::Type::ListAll : wire::Type::Load);
    if (!all) {
        wire::PutStrings(w, ids);
    }
    if (const Wait wait = SendAll(w.Finish()); wait != Wait::Ready) {
        return Lost(wait);
    }
    return {};
}

DecodeOutcome CDecoderProcess::ReceiveCatalog(std::vector<DecoderInfo>& infos) {
    while (true) {
        bool corrupt = false;
        if (const auto message = wire::NextMessage(m_inbox, corrupt)) {
            wire::Reader r(message->payload);
            DecodeOutcome outcome;
            if (message->type == wire::Type::Catalog) {
                infos.clear();
                for (std::uint32_t n = r.Count(0xffff); n > 0 && !r.Failed(); --n) {
                    infos.push_back(wire::GetDecoderInfo(r));
                }
            } else if (message->type == wire::Type::Failure) {
                outcome = {DecodeStatus::Failed, std::string(r.Str())};
            } else {
                corrupt = true;
            }
            m_inbox.erase(0, message->size);
            if (!corrupt && !r.Failed()) {
                return outcome;
            }
        }
        if (corrupt) {
            Kill();
            return {DecodeStatus::Failed, "the decoding process answered nonsense"};
        }
        if (const Wait wait = ReadMore(); wait != Wait::Ready) {
            return Lost(wait);
        }
    }
}

DecodeOutcome CDecoderProcess::Decode(const DecodeJob& job, AnnotationSink& sink) {
    std::string error;
    if (!Start(error)) {
        return {DecodeStatus::Failed, error};
    }
    // What to send next: the request, then per stretch its header and its rows in messages
    // of kRowsPerMessage, then End. Made as the socket takes them, so that a long capture is
    // never held twice and the annotations flow back meanwhile.
    std::size_t stretch = 0;
    std::int64_t sent = 0; // rows of the current stretch
    bool headerSent = false;
    bool ended = false;
    std::vector<std::uint8_t> rows;
    std::string outbox;
    {
        wire::Writer w(wire::Type::Decode);
        wire::PutStack(w, job.stack);
        w.I64(static_cast<std::int64_t>(job.rate));
        w.U32(static_cast<std::uint32_t>(job.unitSize));
        outbox = w.Finish();
    }
    std::size_t outDone = 0;
    const auto refill = [&] {
        while (stretch < job.stretches.size() && sent >= job.stretches[stretch].Size()) {
            ++stretch;
            sent = 0;
            headerSent = false;
        }
        if (stretch >= job.stretches.size()) {
            outbox = wire::Writer(wire::Type::End).Finish();
            ended = true;
            return;
        }
        const SampleRange& range = job.stretches[stretch];
        if (!headerSent) {
            wire::Writer w(wire::Type::Stretch);
            w.I64(range.first);
            w.I64(range.Size());
            outbox = w.Finish();
            headerSent = true;
            return;
        }
        const std::int64_t count = std::min(wire::kRowsPerMessage, range.Size() - sent);
        rows.resize(static_cast<std::size_t>(count * job.unitSize));
        job.pack(range.first + sent, count, rows.data());
        wire::Writer w(wire::Type::Rows);
        w.Bytes(rows.data(), rows.size());
        outbox = w.Finish();
        sent += count;
    };

    DecodeOutcome outcome;
    Annotation annotation;
    while (true) {
        // Everything that has arrived first: it may be the end.
        bool corrupt = false;
        while (const auto message = wire::NextMessage(m_inbox, corrupt)) {
            wire::Reader r(message->payload);
            bool done = false;
            switch (message->type) {
            case wire::Type::Started:
                sink.Started(wire::GetStrings(r));
                break;
            case wire::Type::Annotations:
                while (!r.AtEnd() && !r.Failed()) {
                    wire::GetAnnotation(r, annotation);
                    if (!r.Failed() && !sink.Take(annotation)) {
                        m_inbox.erase(0, message->size);
                        return Lost(Wait::Stopped);
                    }
                }
                sink.BatchEnd();
                break;
            case wire::Type::Done:
                if (r.U8() != 0) {
                    outcome.error = std::string(r.Str());
                } else {
                    r.Str();
                }
                if (r.U8() != 0) {
                    Kill(); // grown by the library's leaks: the next request starts afresh
                }
                done = true;
                break;
            case wire::Type::Failure:
                outcome = {DecodeStatus::Failed, std::string(r.Str())};
                done = true;
                break;
            default:
                corrupt = true;
                break;
            }
            corrupt = corrupt || r.Failed();
            if (m_nSocket >= 0) {
                m_inbox.erase(0, message->size);
            }
            if (corrupt) {
                break;
            }
            if (done) {
                return outcome;
            }
        }
        if (corrupt) {
            Kill();
            return {DecodeStatus::Failed, "the decoding process answered nonsense"};
        }
        // Then send what fits, and wait for either direction.
        if (outDone == outbox.size() && !ended) {
            refill();
            outDone = 0;
        }
        const bool sending = outDone < outbox.size();
        pollfd fds[2] = {{m_nSocket, static_cast<short>(POLLIN | (sending ? POLLOUT : 0)), 0},
                         {m_nStopFd, POLLIN, 0}};
        if (::poll(fds, m_nStopFd >= 0 ? 2 : 1, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return Lost(Wait::Broken);
        }
        if (m_nStopFd >= 0 && (fds[1].revents & POLLIN) != 0) {
            return Lost(Wait::Stopped);
        }
        if (sending && (fds[0].revents & POLLOUT) != 0) {
            const ssize_t put = ::send(m_nSocket, outbox.data() + outDone, outbox.size() - outDone,
                                       MSG_NOSIGNAL | MSG_DONTWAIT);
            if (put > 0) {
                outDone += static_cast<std::size_t>(put);
            } else if (put < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
                return Lost(Wait::Broken);
            }
        }
        if ((fds[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
            const std::size_t had = m_inbox.size();
            m_inbox.resize(had + kReadChunk);
            const ssize_t got = ::recv(m_nSocket, m_inbox.data() + had, kReadChunk, MSG_DONTWAIT);
            m_inbox.resize(had + static_cast<std::size_t>(std::max<ssize_t>(got, 0)));
            if (got == 0 ||
                (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
                return Lost(Wait::Broken);
            }
        }
    }
}

} // namespace quillon
