#pragma once
// A dialog seam that records every box and dialog the window asks for and
// answers them from scripted values, so that no test ever waits on a box.
#include <QString>

#include <deque>
#include <string>
#include <vector>

#include "console/DialogSeam.h"

// Texts in one line, each in brackets, so that a comparison shows them all.
inline std::string Join(const std::vector<std::string>& items) {
    std::string out;
    for (const auto& s : items) out += "[" + s + "]";
    return out;
}

class RecordingDialogs : public DialogSeam {
public:
    void Message(QWidget*, const veltra::Message& message) override { messages.push_back(message); }
    bool RetryCancel(QWidget*, const QString& text) override {
        retryQuestions.push_back(text);
        if (retryAnswers.empty()) return retryAnswer;
        const bool answer = retryAnswers.front();
        retryAnswers.pop_front();
        return answer;
    }
    QString OpenFileName(QWidget*, const QString& title, const QString& filter) override {
        fileDialogs.push_back(title + "|" + filter);
        return fileAnswer;
    }

    std::vector<std::string> MessageTexts() const {
        std::vector<std::string> texts;
        for (const auto& m : messages) texts.push_back(m.text);
        return texts;
    }

    std::vector<veltra::Message> messages;
    std::vector<QString> retryQuestions;
    std::vector<QString> fileDialogs;
    std::deque<bool> retryAnswers;  // answered first, in order
    bool retryAnswer = false;       // then this, every time
    QString fileAnswer;
};
