#pragma once

#include <QCoroTask>
#include <QCoroTimer>
#include <chrono>

// One synthetic-key run at a time for an injector: a paste must not fall between the keys
// of a typing run, which may have lent the keyboard a keymap of its own. A run takes its
// turn with `co_await turns.take()` and holds it while the returned token lives.
class KeyTurns final
{
public:
    class Token final
    {
    public:
        explicit Token(bool &busy)
            : m_busy(&busy)
        {
            busy = true;
        }
        Token(Token &&other) noexcept
            : m_busy(std::exchange(other.m_busy, nullptr))
        {}
        Token(const Token &) = delete;
        Token &operator=(const Token &) = delete;
        Token &operator=(Token &&) = delete;
        ~Token()
        {
            if (m_busy)
                *m_busy = false;
        }

    private:
        bool *m_busy;
    };

    // Resolves once no other run holds a turn; the caller must outlive the run.
    QCoro::Task<Token> take()
    {
        using namespace std::chrono_literals;
        while (m_busy) {
            auto pause = QCoro::sleepFor(10ms);
            co_await std::move(pause);
        }
        co_return Token(m_busy);
    }

private:
    bool m_busy = false;
};
