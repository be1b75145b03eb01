#pragma once
// The operator of the benchmarks: answers nothing, keeps the last status line
// and prints any message, since a message means the bench is not measuring
// what it should.
#include <cstdio>
#include <string>

#include "serial/Operator.h"

namespace veltra::bench {

class QuietOperator : public Operator {
public:
    void ShowMessage(const Message& message) override { std::printf("message: %s\n", message.text.c_str()); }
    bool AskRetry(const std::string&) override { return false; }
    std::string AskOpenFileName(const std::string&, const std::string&) override { return {}; }
    void SetStatusLine(const std::string& text) override { status = text; }
    void SetFileNameCaption(const std::string&) override {}
    void SetTrafficLog(const std::string&) override {}
    void SetReplyBox(const std::string&) override {}
    int ProgressMaximum() const override { return maximum; }
    void SetProgressMaximum(int m) override { maximum = m; }
    void SetProgressValue(int) override {}
    bool EepromChecked() const override { return false; }
    std::string OptionText(int) const override { return "0"; }

    std::string status;
    int maximum = 100;
};

}  // namespace veltra::bench
