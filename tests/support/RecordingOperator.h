#pragma once
// A fake operator that records everything the core shows and answers the
// questions from scripted queues.
#include <deque>
#include <string>
#include <vector>

#include "serial/Operator.h"

namespace veltra::testing {

class RecordingOperator : public Operator {
public:
    void ShowMessage(const Message& message) override { messages.push_back(message); }
    bool AskRetry(const std::string& text) override {
        retryQuestions.push_back(text);
        if (retryAnswers.empty()) return false;
        bool answer = retryAnswers.front();
        retryAnswers.pop_front();
        return answer;
    }
    std::string AskOpenFileName(const std::string& title, const std::string& filter) override {
        dialogs.push_back(title + "|" + filter);
        if (openAnswers.empty()) return {};
        std::string answer = openAnswers.front();
        openAnswers.pop_front();
        return answer;
    }
    void SetStatusLine(const std::string& text) override { statusLines.push_back(text); }
    void SetFileNameCaption(const std::string& text) override { fileNameCaption = text; }
    void SetTrafficLog(const std::string& text) override { trafficLogs.push_back(text); }
    void SetReplyBox(const std::string& text) override { replies.push_back(text); }
    int ProgressMaximum() const override { return progressMaximum; }
    void SetProgressMaximum(int maximum) override { progressMaximum = maximum; }
    void SetProgressValue(int value) override { progressValues.push_back(value); }
    bool EepromChecked() const override { return eeprom; }
    std::string OptionText(int box) const override { return options.at(static_cast<std::size_t>(box - 1)); }

    std::vector<std::string> MessageTexts() const {
        std::vector<std::string> texts;
        for (const auto& m : messages) texts.push_back(m.text);
        return texts;
    }
    // The boxes shown so far in one line, each in brackets, for a failure's message.
    std::string Shown() const {
        std::string all;
        for (const auto& m : messages) all += "[" + m.text + "] ";
        return all;
    }
    std::string LastStatus() const { return statusLines.empty() ? std::string{} : statusLines.back(); }
    std::string LastTrafficLog() const { return trafficLogs.empty() ? std::string{} : trafficLogs.back(); }
    std::string LastReply() const { return replies.empty() ? std::string{} : replies.back(); }

    // What was shown.
    std::vector<Message> messages;
    std::vector<std::string> retryQuestions;
    std::vector<std::string> dialogs;
    std::vector<std::string> statusLines;
    std::vector<std::string> trafficLogs;
    std::vector<std::string> replies;
    std::vector<int> progressValues;
    std::string fileNameCaption = "No Fille for downloading";
    int progressMaximum = 100;

    // What the operator answers or has set.
    std::deque<bool> retryAnswers;
    std::deque<std::string> openAnswers;
    bool eeprom = false;
    std::vector<std::string> options{"0", " 0", "0", "0"};
};

}  // namespace veltra::testing
