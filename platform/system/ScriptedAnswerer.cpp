#include "platform/system/ScriptedAnswerer.h"

namespace {
// Restored when the answerer goes away; kept per process as only one answerer runs at a time.
MessageBox::Handler& previousSlot()
{
    static MessageBox::Handler previous;
    return previous;
}
} // namespace

ScriptedAnswerer::ScriptedAnswerer(FailureCallback onUnexpected)
    : m_onUnexpected(std::move(onUnexpected))
{
    previousSlot() = MessageBox::CurrentHandler();
    MessageBox::SetHandler([this](const MessageBoxRequest& request) { return Answer(request); });
}

ScriptedAnswerer::~ScriptedAnswerer()
{
    MessageBox::SetHandler(previousSlot());
}

int ScriptedAnswerer::Answer(const MessageBoxRequest& request)
{
    m_shown.append(request);
    if (m_answers.isEmpty()) {
        if (m_onUnexpected) {
            m_onUnexpected(request);
        }
        return request.DefaultAnswer();
    }
    return m_answers.takeFirst();
}
