// A scripted far end on a pseudo-terminal: it answers each command as the test says.
#pragma once

#include "support/pty_pair.h"

#include <atomic>
#include <functional>
#include <mutex>
#include <poll.h>
#include <string>
#include <thread>
#include <vector>

namespace quillon::test {

// Answers each command (text up to '\r') with whatever the script returns.
class FarEnd {
public:
    using Script = std::function<std::string(const std::string&)>;
    FarEnd(PtyPair& pty, Script script) : m_pty(pty), m_script(std::move(script)) {
        m_thread = std::thread([this] { Serve(); });
    }
    ~FarEnd() {
        m_stop = true;
        m_thread.join();
    }
    std::vector<std::string> Commands() {
        std::lock_guard lock(m_mutex);
        return m_commands;
    }

private:
    void Serve() {
        std::string pending;
        while (!m_stop) {
            pollfd pfd{m_pty.Master(), POLLIN, 0};
            if (::poll(&pfd, 1, 5) <= 0 || (pfd.revents & POLLIN) == 0) {
                continue;
            }
            char buf[256];
            const ssize_t n = ::read(m_pty.Master(), buf, sizeof buf);
            for (ssize_t i = 0; i < n; ++i) {
                pending.push_back(buf[i]);
                if (buf[i] == '\r') {
                    {
                        std::lock_guard lock(m_mutex);
                        m_commands.push_back(pending);
                    }
                    const std::string reply = m_script(pending);
                    if (!reply.empty()) {
                        m_pty.Send(reply);
                    }
                    pending.clear();
                }
            }
        }
    }
    PtyPair& m_pty;
    Script m_script;
    std::atomic<bool> m_stop{false};
    std::mutex m_mutex;
    std::vector<std::string> m_commands;
    std::thread m_thread;
};

} // namespace quillon::test
