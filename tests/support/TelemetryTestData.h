#pragma once
// A status record, and helpers for the .csd and other text files the tests read back.

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <numbers>
#include <sstream>
#include <string>
#include <vector>

#include "core/link/UnitState.h"
#include "core/telemetry/TelemetryFormat.h"

namespace corvane3::testing {

// Readings that print exactly (binary fractions only), so every column can be pinned.
inline UnitStateData SampleRecord() {
    UnitStateData data;
    data.d1 = {.serialNumber = 1234,
               .modeText = "R+Z",
               .state = 11,
               .alarm1 = 0x00,
               .alarm2 = 0x1A,
               .alarm3 = 0x03,
               .alarm4 = 0x00,
               .alarm5 = 0xFF,
               .freqTune = -1500,
               .pos21V = 24.125f,
               .ocxoTau = 10.0f,
               .cRamErr = 12,
               .cRabErr = -340,
               .zRamErr = 3,
               .zRabErr = -7,
               .vvcxo = -1234,
               .cLevel = 2500,
               .vcField = 456,
               .zLevel = 1800,
               .dcLevel = 4000,
               .numGain = 1.25f,
               .vuWave = 321,
               .pos5V = 5.0f,
               .tChassis = 35.5f,
               .pos15V = 15.25f,
               .neg15V = -15.5f,
               .oscState = 'c',
               .vCsOven = 6.25f,
               .vms = 10.25f,
               .vion = 3.5f,
               .icField = 7.5f,
               .vem = 12.5f,
               .iip = 42,
               .stdDev = -5};
    data.d2.dacGain = 2.0f;
    data.d2.nomVms = 10.5f;
    data.d2.nomVion = 3.25f;
    data.d2.nomZRabi = -12;
    data.b20 = {.token = "PS24",
                .system24 = 24.5f,
                .acdc24 = 24.25f,
                .batt24 = 26.75f,
                .charge = 3,
                .source = "AC"};
    data.outliers = {1, 2, 3, 4};
    data.mjd = 60123.5;
    data.firmwareRevisionLetter = 'B';
    data.firmwareRevision = 12;
    return data;
}

// Record i of a unit recording every ten minutes: a signal falling 1 % a day, supplies with a
// large offset and a small spread, a chassis temperature that swings, a count that keeps growing.
inline UnitStateData DecayingRecord(int i) {
    UnitStateData data = SampleRecord();
    const double days = i / 144.0;
    data.mjd = 60000.0 + days;
    data.d1.cLevel = static_cast<std::int32_t>(std::lround(250000.0 * std::pow(0.99, days)));
    data.d1.pos15V = 15.25f + 0.001f * static_cast<float>((i * 7) % 13);
    data.d1.tChassis = 35.5f + 0.25f * static_cast<float>(std::sin(i / 50.0));
    data.d1.cRamErr = i % 11 - 5;
    data.outliers.hopsTotal = static_cast<std::uint32_t>(i / 100);
    return data;
}

// Appends records first..end-1 of a current-format .csd file, the header line before record 0.
inline void AppendCsdRecords(const std::filesystem::path& path, int first, int end,
                             const std::function<UnitStateData(int)>& record = DecayingRecord) {
    std::ofstream out(path, std::ios::binary | std::ios::app);
    if (first == 0) {
        out << TelemetryHeaderLine(kModelTq9000) << kTelemetryLineEnd;
    }
    for (int i = first; i < end; ++i) {
        out << TelemetryRecordLine(record(i), kModelTq9000) << kTelemetryLineEnd;
    }
}

// A .csd file whose VEM moves by voltsPerDay from 2000 V, with a daily swing of dailySwingVolts
// on top (as the chassis temperature gives the analog readings), one record every
// recordSeconds from MJD 60000 while not past days.
inline void WriteVemFile(const std::filesystem::path& path, double days, double recordSeconds,
                         double voltsPerDay, double dailySwingVolts = 0.0) {
    constexpr double kSecondsPerDay = 86400.0;
    std::ofstream out(path, std::ios::binary);
    out << TelemetryHeaderLine(kModelTq9000) << kTelemetryLineEnd;
    for (double day = 0.0; day <= days; day += recordSeconds / kSecondsPerDay) {
        UnitStateData data = SampleRecord();
        data.mjd = 60000.0 + day;
        data.d1.vem = static_cast<float>(2000.0 + voltsPerDay * day +
                                         dailySwingVolts * std::sin(2.0 * std::numbers::pi * day));
        out << TelemetryRecordLine(data, kModelTq9000) << kTelemetryLineEnd;
    }
}

// Columns of one .csd line.
inline int Columns(const std::string& line) {
    return 1 + static_cast<int>(std::count(line.begin(), line.end(), ','));
}

inline std::string FileText(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), {}};
}

// The lines of a text file, without their LFs.
inline std::vector<std::string> FileLines(const std::filesystem::path& path) {
    std::ifstream file(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(file, line);) {
        lines.push_back(line);
    }
    return lines;
}

// The lines of a .csd file, each of which must end in CR LF.
inline std::vector<std::string> CsdLines(const std::filesystem::path& path) {
    std::vector<std::string> lines;
    const std::string text = FileText(path);
    std::size_t start = 0;
    for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
        lines.push_back(text.substr(start, end - start));
    }
    if (start != text.size()) {
        lines.push_back("(unterminated) " + text.substr(start));
    }
    return lines;
}

// The records of a .csd file: its lines that begin with an MJD.
inline std::vector<std::string> CsdRecords(const std::filesystem::path& path) {
    std::vector<std::string> records = CsdLines(path);
    std::erase_if(records, [](const std::string& line) {
        return line.empty() || std::isdigit(static_cast<unsigned char>(line[0])) == 0;
    });
    return records;
}

}  // namespace corvane3::testing
