#pragma once

#include "platform/system/MessageBox.h"

#include <QList>
#include <functional>

// Answers message boxes from a script, for tests: each box takes the next queued answer and
// is recorded. A box with no answer queued is reported through the failure callback (tests
// make it a test failure) and takes its default button, so that nothing ever blocks.
class ScriptedAnswerer
{
public:
    using FailureCallback = std::function<void(const MessageBoxRequest&)>;

    explicit ScriptedAnswerer(FailureCallback onUnexpected = {});
    ~ScriptedAnswerer(); // restores the previous handler

    ScriptedAnswerer(const ScriptedAnswerer&) = delete;
    ScriptedAnswerer& operator=(const ScriptedAnswerer&) = delete;

    void Expect(int answer) { m_answers.append(answer); }
    const QList<MessageBoxRequest>& Shown() const { return m_shown; }
    int Pending() const { return int(m_answers.size()); }
    void Clear()
    {
        m_shown.clear();
        m_answers.clear();
    }

private:
    int Answer(const MessageBoxRequest& request);

    QList<int> m_answers;
    QList<MessageBoxRequest> m_shown;
    FailureCallback m_onUnexpected;
};
