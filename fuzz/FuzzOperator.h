#pragma once
// The operator of a fuzz run: keeps only the last text of each box the
// oracles judge, grants a few more wake-up attempts when asked, then gives up.
#include <string>

#include "serial/Operator.h"

namespace veltra::fuzz {

class FuzzOperator final : public Operator {
public:
    FuzzOperator(bool eeprom, int wakeRetries) : eeprom_(eeprom), retriesLeft_(wakeRetries) {}

    void ShowMessage(const Message&) override { ++messages; }
    bool AskRetry(const std::string&) override {
        if (retriesLeft_ == 0) return false;
        --retriesLeft_;
        return true;
    }
    std::string AskOpenFileName(const std::string&, const std::string&) override { return {}; }
    void SetStatusLine(const std::string& text) override { statusLine = text; }
    void SetFileNameCaption(const std::string&) override {}
    void SetTrafficLog(const std::string& text) override { trafficLog = text; }
    void SetReplyBox(const std::string& text) override { replyBox = text; }
    int ProgressMaximum() const override { return progressMaximum_; }
    void SetProgressMaximum(int maximum) override { progressMaximum_ = maximum; }
    void SetProgressValue(int) override {}
    bool EepromChecked() const override { return eeprom_; }
    std::string OptionText(int) const override { return "0"; }

    int messages = 0;
    std::string statusLine;
    std::string trafficLog;
    std::string replyBox;

private:
    bool eeprom_;
    int retriesLeft_;
    int progressMaximum_ = 100;
};

}  // namespace veltra::fuzz
