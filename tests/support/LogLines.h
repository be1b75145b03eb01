#pragma once
// What a test needs to check the file of veltra-load --log: its bytes, its
// lines parsed one by one, and the SHA-256 of the bytes a run should have
// sent, computed here with libcrypto rather than through the program's code.
#include <openssl/sha.h>

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace veltra::testing {

// The file's bytes, all of them.
inline std::string FileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream whole;
    whole << in.rdbuf();
    return whole.str();
}

// Every line of the log, each parsed on its own; a line that is no JSON
// object fails the test.
inline std::vector<nlohmann::json> LogLines(const std::string& path) {
    const std::string text = FileText(path);
    EXPECT_TRUE(text.empty() || text.back() == '\n') << "the last line is unfinished: " << text;
    std::vector<nlohmann::json> lines;
    std::istringstream lineStream(text);
    for (std::string line; std::getline(lineStream, line);) {
        const nlohmann::json json = nlohmann::json::parse(line, nullptr, false);
        EXPECT_TRUE(json.is_object()) << "not a JSON object: " << line;
        lines.push_back(json);
    }
    return lines;
}

inline std::string Sha256Of(const std::string& bytes) {
    unsigned char digest[SHA256_DIGEST_LENGTH];
    SHA256(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), digest);
    std::string hex;
    for (const unsigned char byte : digest) {
        char two[3];
        std::snprintf(two, sizeof two, "%02x", byte);
        hex += two;
    }
    return hex;
}

// The "time" of a line, "YYYY-MM-DDTHH:MM:SSZ", as a point in time; the
// epoch when it is not of that form (and the test fails).
inline std::chrono::sys_seconds TimeOf(const nlohmann::json& line) {
    using namespace std::chrono;
    const std::string time = line.value("time", std::string{});
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
    char z = 0;
    const bool parsed = time.size() == 20 &&
                        std::sscanf(time.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%c", &y, &mo, &d, &h, &mi, &s, &z) == 7 &&
                        z == 'Z';
    EXPECT_TRUE(parsed) << "time \"" << time << "\" is not ISO 8601 UTC to the second";
    if (!parsed) return {};
    return sys_days{year{y} / month{static_cast<unsigned>(mo)} / day{static_cast<unsigned>(d)}} + hours{h} +
           minutes{mi} + seconds{s};
}

// Whether the line ended between `before` and `after` of the test's own clock.
inline void ExpectTimeWithin(const nlohmann::json& line, std::chrono::system_clock::time_point before,
                             std::chrono::system_clock::time_point after) {
    const auto time = TimeOf(line);
    EXPECT_GE(time, std::chrono::floor<std::chrono::seconds>(before)) << line.dump();
    EXPECT_LE(time, after) << line.dump();
}

// The fields every line has, of the kind the README gives them, and no others.
inline void ExpectLineShape(const nlohmann::json& line) {
    for (const char* text : {"time", "port", "adapter", "operation", "file", "sha256", "result"}) {
        EXPECT_TRUE(line.contains(text) && line[text].is_string()) << text << " in " << line.dump();
    }
    for (const char* whole : {"device", "size", "bytes", "exit"}) {
        EXPECT_TRUE(line.contains(whole) && line[whole].is_number_integer()) << whole << " in " << line.dump();
    }
    EXPECT_TRUE(line.contains("seconds") && line["seconds"].is_number()) << line.dump();
    EXPECT_EQ(line.size(), 12u) << line.dump();
    TimeOf(line);
}

}  // namespace veltra::testing
