// Line_reader reads whole lines of any length; Line_scanner must read numbers
// exactly as formatted stream extraction does, which the random cases check
// against a string stream taken as the reference.
#include "line_reader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <sstream>

#include "test_util.h"

namespace {

// Reference: reads values of type T one after another from text with one
// string stream, recording each value and the text left after it.
template <class T>
std::vector<std::pair<T, std::string>> stream_reads(const std::string& text) {
    std::istringstream stream(text);
    std::vector<std::pair<T, std::string>> reads;
    T value{};
    while (stream >> value) {
        std::string rest = stream.eof() ? "" : text.substr(static_cast<size_t>(stream.tellg()));
        reads.emplace_back(value, rest);
    }
    return reads;
}

template <class T>
std::vector<std::pair<T, std::string>> scanner_reads(const std::string& text) {
    Line_scanner scanner(text);
    std::vector<std::pair<T, std::string>> reads;
    T value{};
    while (scanner.number(value)) reads.emplace_back(value, std::string(scanner.rest()));
    return reads;
}

// Well-formed decimals of 1 to 20 digits with a point and an exponent near
// the limits of exact conversion.
std::string random_decimal(std::mt19937& random) {
    std::string digits;
    for (size_t i = random() % 20 + 1; i > 0; --i) digits += static_cast<char>('0' + random() % 10);
    digits.insert(random() % (digits.size() + 1), ".");
    return digits + "e" + std::to_string(static_cast<int>(random() % 61) - 30);
}

// Random mixtures of the characters a number is made of and a few others.
std::string random_text(std::mt19937& random) {
    if (random() % 2 == 0) return random_decimal(random);
    static const char alphabet[] = "0123456789012345678901234567890123456789+-+-..eEeE x\tanfi9";
    std::uniform_int_distribution<size_t> length(0, 14), pick(0, sizeof(alphabet) - 2);
    std::string text;
    for (size_t i = length(random); i > 0; --i) text += alphabet[pick(random)];
    // Now and then an exponent far outside the double range, or a long mantissa.
    if (random() % 16 == 0) text += "e" + std::to_string(static_cast<int>(random() % 800) - 400);
    if (random() % 32 == 0) text = std::string(random() % 40, '7') + text;
    return text;
}

// Plain decimals as data files hold them (a sign now and then, 1 to 25
// digits, a point anywhere or none, no exponent), with a trailing field:
// the shortcut for short decimals and its hand-over to the general path.
std::string random_plain_decimal(std::mt19937& random) {
    std::string digits;
    for (size_t i = random() % 25 + 1; i > 0; --i) digits += static_cast<char>('0' + random() % 10);
    if (random() % 4 != 0) digits.insert(random() % (digits.size() + 1), ".");
    const char* signs[] = {"", "", "", "-", "+"};
    return signs[random() % 5] + digits + (random() % 3 == 0 ? "\t0.01" : "");
}

// Detection p-values in the forms data files hold: plain decimals around
// the limit of 0.05, and exponent forms (e or E, any sign, 1 to 4 exponent
// digits with leading zeros now and then, 1 to 12 mantissa digits), with a
// trailing field now and then.
std::string random_p_value(std::mt19937& random) {
    std::string text;
    if (random() % 3 == 0) {
        const char* near[] = {"0.04", "0.05", "0.050", "0.0500000000000000001", "0.049999", "0.06", "0.00"};
        text = near[random() % 7];
        for (size_t i = random() % 6; i > 0; --i) text += static_cast<char>('0' + random() % 10);
    } else {
        for (size_t i = random() % 12 + 1; i > 0; --i) text += static_cast<char>('0' + random() % 10);
        if (random() % 4 != 0) text.insert(1, ".");
        const char* signs[] = {"-", "-", "-", "+", ""};
        std::string exponent = std::to_string(random() % (random() % 2 == 0 ? 60 : 400));
        if (random() % 4 == 0) exponent.insert(0, std::string(random() % 3, '0'));
        text += (random() % 2 == 0 ? "e" : "E") + std::string(signs[random() % 5]) + exponent;
    }
    return text + (random() % 4 == 0 ? "\t1" : "");
}

template <class T>
void expect_agreement(uint32_t seed, int cases, std::string (*make)(std::mt19937&) = random_text) {
    std::mt19937 random(seed);
    for (int i = 0; i < cases; ++i) {
        std::string text = make(random);
        auto expected = stream_reads<T>(text);
        auto got = scanner_reads<T>(text);
        ASSERT_EQ(expected.size(), got.size()) << "text \"" << text << "\" seed " << seed;
        for (size_t k = 0; k < got.size(); ++k) {
            ASSERT_EQ(0, memcmp(&expected[k].first, &got[k].first, sizeof(T))) << "text \"" << text << "\"";
            ASSERT_EQ(expected[k].second, got[k].second) << "text \"" << text << "\"";
        }
    }
}

}  // namespace

TEST(line_scanner, real_numbers_agree_with_stream_extraction_on_random_text) {
    expect_agreement<double>(20240611, 300000);
}

TEST(line_scanner, plain_decimals_agree_with_stream_extraction) {
    expect_agreement<double>(31337, 300000, random_plain_decimal);
}

// The exponent shortcut agrees with stream extraction, and a p-value taken
// as below 0.01 by its form alone is a number below 0.01 (so it passes the
// detection limit as its exact value does); texts that are not such a number
// are never taken.
TEST(line_scanner, detection_p_values_read_exactly_and_tiny_forms_are_decided_right) {
    expect_agreement<double>(4711, 300000, random_p_value);
    std::mt19937 random(4712);
    int decided = 0;
    for (int i = 0; i < 300000; ++i) {
        const std::string text = random_p_value(random);
        if (!below_hundredth(text.data(), text.data() + text.size())) continue;
        ++decided;
        const auto exact = stream_reads<double>(text);
        ASSERT_FALSE(exact.empty()) << text;
        ASSERT_LT(exact[0].first, 0.01) << text;
    }
    EXPECT_GT(decided, 50000);
    for (const char* text : {"0x1p-3", "1e", "1e-", "--1", "-1e-5", "inf", "nan", ".", ".5e-5", "-0.04", "0.05",
                             "5e-2", "9.9e-2", "1e-2", "1e-0", "1e-00", "1e+5", "1e5", "10e-5", "0.0500000000000000001",
                             "1.e-", "e-5", "1_e-5"})
        EXPECT_FALSE(below_hundredth(text, text + strlen(text))) << text;
    for (const char* text : {"1e-3", "9.999999e-03", "3.678E-38", "1.49560e-11", "0e-010", "5.e-400"})
        EXPECT_TRUE(below_hundredth(text, text + strlen(text))) << text;
}

TEST(line_scanner, unsigned_numbers_agree_with_stream_extraction_on_random_text) {
    expect_agreement<uint32_t>(77, 300000);
}

TEST(line_scanner, boundary_cases_of_stream_extraction) {
    double real = -1.0;
    uint32_t whole = 0;
    for (const char* text : {"1e", "1e+", "2E-", "inf", "nan", "x1", ".", "-.e1", "+", "1e400", "-1e400"})
        EXPECT_FALSE(read_number(text, real)) << text;
    EXPECT_TRUE(read_number("1e-400", real));
    EXPECT_EQ(0.0, real);
    EXPECT_TRUE(read_number("4.9e-324", real));
    EXPECT_GT(real, 0.0);
    EXPECT_TRUE(read_number(" +.5", real));
    EXPECT_EQ(0.5, real);
    EXPECT_TRUE(read_number("-1", whole));
    EXPECT_EQ(4294967295u, whole);
    EXPECT_TRUE(read_number("4294967295", whole));
    EXPECT_FALSE(read_number("4294967296", whole));
    EXPECT_FALSE(read_number("-4294967296", whole));
    EXPECT_FALSE(read_number("- 1", whole));
}

TEST(line_scanner, number_leaves_the_rest_and_a_failure_ends_the_line) {
    Line_scanner scanner("0x1A 0.5abc 3");
    double value = 0.0;
    std::string word;
    EXPECT_TRUE(scanner.number(value));
    EXPECT_EQ(0.0, value);
    EXPECT_TRUE(scanner.word(word));
    EXPECT_EQ("x1A", word);
    EXPECT_TRUE(scanner.number(value));
    EXPECT_EQ(0.5, value);
    EXPECT_FALSE(scanner.number(value));  // "abc"
    EXPECT_FALSE(scanner.word(word));
    EXPECT_FALSE(scanner.ok());
}

TEST(line_reader, reads_whole_lines_of_any_length_with_their_line_ends) {
    Temp_dir dir;
    std::string long_line = "cg1 0.5 0.01 " + std::string(200000, 'x');
    write_text(dir.file("a.txt"), long_line + "\nsecond\r\nlast");
    Line_reader reader(dir.file("a.txt"));
    std::string_view line;
    ASSERT_TRUE(reader.next(line));
    EXPECT_EQ(long_line + "\n", std::string(line));
    ASSERT_TRUE(reader.next(line));
    EXPECT_EQ("second\r\n", std::string(line));
    ASSERT_TRUE(reader.next(line));
    EXPECT_EQ("last", std::string(line));
    EXPECT_FALSE(reader.next(line));
}

// Lines of text split by hand at "\n", "\r\n" and a lone "\r", each kept with its end.
std::vector<std::string> split_lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t begin = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        if (text[i] != '\n' && text[i] != '\r') continue;
        lines.push_back(text.substr(begin, i + 1 - begin));
        begin = i + 1;
    }
    if (begin < text.size()) lines.push_back(text.substr(begin));
    return lines;
}

std::vector<std::string> read_lines(const std::string& text) {
    Line_reader reader;
    reader.cr_line_ends(true);
    reader.open_memory(text.data(), text.size());
    std::vector<std::string> lines;
    std::string_view line;
    while (reader.next(line)) lines.emplace_back(line);
    return lines;
}

TEST(line_reader, lone_carriage_returns_end_lines_when_asked) {
    // Random line lengths and ends over three read blocks, and a "\r" as the
    // last byte of the first block, followed by "\n" or by text.
    std::mt19937 random(11);
    const char* ends[] = {"\n", "\r\n", "\r"};
    std::string mixed;
    while (mixed.size() < 3u << 20) mixed += std::string(random() % 300, 'a') + ends[random() % 3];
    mixed += "last";
    EXPECT_EQ(read_lines(mixed), split_lines(mixed));
    for (const char* next : {"\n", "x\r"}) {
        const std::string text = std::string((1u << 20) - 1, 'b') + "\r" + next + "\r";
        EXPECT_EQ(read_lines(text), split_lines(text)) << next;
    }
    // Off, a lone "\r" stays inside the line.
    Line_reader reader;
    reader.open_memory("a\rb\n", 4);
    std::string_view line;
    ASSERT_TRUE(reader.next(line));
    EXPECT_EQ(line, "a\rb\n");
}

TEST(line_reader, directory_or_missing_file_cannot_be_opened) {
    Temp_dir dir;
    Line_reader reader;
    EXPECT_FALSE(reader.open(dir.path()));
    EXPECT_FALSE(reader.open(dir.file("missing.txt")));
    EXPECT_FALSE(file_readable(dir.path()));
    write_text(dir.file("empty.txt"), "");
    EXPECT_TRUE(file_readable(dir.file("empty.txt")));
}
