#pragma once

#include "messageboxes.h"
#include "windowoperations.h"

#include <QString>

#include <deque>
#include <vector>

struct ShownBox
{
    QString prompt;
    int style = 0;
    QString title;
};

// Answers boxes from a queue (OK once it is empty) and remembers what was shown and beeped.
class FakeMessageBoxes final : public MessageBoxes
{
public:
    int messageBox(QWidget *, const QString &prompt, int style, const QString &title) override
    {
        m_shown.push_back(ShownBox{prompt, style, title});
        if (m_answers.empty())
            return MessageAnswer::Ok;
        const int answer = m_answers.front();
        m_answers.pop_front();
        return answer;
    }

    void beep() override { ++m_beeps; }

    void answerWith(int answer) { m_answers.push_back(answer); }
    const std::vector<ShownBox> &shown() const { return m_shown; }
    int beeps() const { return m_beeps; }

private:
    std::deque<int> m_answers;
    std::vector<ShownBox> m_shown;
    int m_beeps = 0;
};
