// SPDX-License-Identifier: MIT
// The manual pages and the programs agree: each page shows the usage text
// its program prints and documents exactly the options, modes or commands
// the program has, and the package's version; and man renders every page
// without a warning.
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <set>
#include <sstream>

#include "run_program.h"

namespace {

std::string page_path(const std::string &name)
{
    return std::string(MAN_DIR) + "/" + name + ".1";
}

std::vector<std::string> lines_of(const std::string &text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// Page source as the reader sees it: font changes and zero-width marks
// gone, escapes turned into the bytes they print (the o-umlaut as the
// program's ISO-8859-1 byte).
std::string plain(std::string s)
{
    static const std::pair<std::regex, const char *> escapes[] = {
        {std::regex(R"(\\f[BIRP])"), ""}, {std::regex(R"(\\&)"), ""},       {std::regex(R"(\\-)"), "-"},
        {std::regex(R"(\\\(aq)"), "'"},   {std::regex(R"(\\\(:o)"), "\xF6"}, {std::regex(R"(\\e)"), "\\"},
    };
    for (const auto &[re, text] : escapes)
        s = std::regex_replace(s, re, text);
    return s;
}

// The words of a macro line, its macro name dropped and quotes removed.
std::vector<std::string> words(const std::string &line)
{
    std::string text = plain(line);
    text.erase(std::remove(text.begin(), text.end(), '"'), text.end());
    std::istringstream in(text);
    std::vector<std::string> out;
    for (std::string w; in >> w;)
        out.push_back(w);
    if (!out.empty() && out[0][0] == '.')
        out.erase(out.begin());
    return out;
}

// Lines of section `name`, from its .SH to the next.
std::vector<std::string> section(const std::string &page, const std::string &name)
{
    std::vector<std::string> out;
    bool inside = false;
    for (const auto &line : lines_of(read_file(page_path(page)))) {
        if (line.rfind(".SH", 0) == 0)
            inside = words(line) == words(".SH " + name);
        else if (inside)
            out.push_back(line);
    }
    return out;
}

// Words with an optional part in brackets joined into one, lower case:
// "[--at", "HH:MM]" becomes "[--at hh:mm]", as .OP shows it.
std::vector<std::string> operands_of(std::vector<std::string> w)
{
    std::vector<std::string> out;
    for (auto &word : w) {
        std::transform(word.begin(), word.end(), word.begin(), ::tolower);
        if (!out.empty() && out.back()[0] == '[' && out.back().back() != ']')
            out.back() += " " + word;
        else
            out.push_back(word);
    }
    return out;
}

// First word of every .TP tag in a section: the items it documents.
std::set<std::string> tags(const std::string &page, const std::string &name)
{
    std::vector<std::string> lines = section(page, name);
    std::set<std::string> out;
    for (size_t i = 0; i + 1 < lines.size(); i++)
        if (lines[i] == ".TP" && !words(lines[i + 1]).empty())
            out.insert(words(lines[i + 1])[0]);
    return out;
}

bool page_shows_line(const std::string &page, const std::string &line)
{
    for (const auto &l : lines_of(read_file(page_path(page))))
        if (plain(l) == line)
            return true;
    return false;
}

TEST(ManPages, BurnimgOptions)
{
    run_result r = run_program(BURNIMG_PATH, {"-h"});
    ASSERT_EQ(r.exit_code, 1);
    std::string usage = lines_of(r.out).at(0);
    EXPECT_TRUE(page_shows_line("burnimg", usage)) << usage;

    const std::set<std::string> options = {"-b", "-c", "-f", "-h", "-i", "-o", "-u"};
    EXPECT_EQ(tags("burnimg", "OPTIONS"), options);
    std::set<std::string> synopsis;
    for (const auto &line : section("burnimg", "SYNOPSIS"))
        if (line.rfind(".OP", 0) == 0)
            synopsis.insert(words(line).at(0));
    EXPECT_EQ(synopsis, options);
    std::regex option(R"(-[a-z])");
    for (std::sregex_iterator it(usage.begin(), usage.end(), option), end; it != end; ++it)
        EXPECT_TRUE(options.count(it->str())) << it->str();
}

TEST(ManPages, LcrmergeUsageAndModes)
{
    run_result r = run_program(LCRMERGE_PATH, {});
    ASSERT_EQ(r.exit_code, 1);
    std::vector<std::string> usage = lines_of(r.out);
    ASSERT_EQ(usage.size(), 3u);
    for (const auto &line : usage)
        EXPECT_TRUE(page_shows_line("lcrmerge", line)) << line;

    // "4 parameters: mode current_lcr current_default_lcr modified_lcr needed!"
    std::vector<std::string> params = words(usage[0]);
    params = {params.begin() + 2, params.end() - 1};
    std::vector<std::string> synopsis;
    for (const auto &line : section("lcrmerge", "SYNOPSIS"))
        if (line.rfind(".I ", 0) == 0)
            synopsis.push_back(words(line).at(0));
    EXPECT_EQ(synopsis, params);
    EXPECT_EQ(tags("lcrmerge", "MODES"), (std::set<std::string>{"1", "2"}));
}

TEST(ManPages, LcrtoolCommands)
{
    run_result r = run_program(LCRTOOL_PATH, {"-h"});
    ASSERT_EQ(r.exit_code, 0);
    // "usage: lcrtool dump IMAGE" and "       lcrtool build TEXT IMAGE": the
    // command and its operands, which the page writes in lower case, options
    // with .OP.
    std::map<std::string, std::vector<std::string>> usage;
    for (const auto &line : lines_of(r.out)) {
        if (line.rfind("usage:", 0) != 0 && line.rfind(" ", 0) != 0)
            continue;  // the note after the commands
        std::vector<std::string> w = words(line);
        auto tool = std::find(w.begin(), w.end(), "lcrtool");
        ASSERT_TRUE(tool != w.end() && tool + 1 != w.end()) << line;
        usage[tool[1]] = operands_of({tool + 2, w.end()});
    }
    std::map<std::string, std::vector<std::string>> synopsis;
    std::string command;
    for (const auto &line : section("lcrtool", "SYNOPSIS")) {
        std::vector<std::string> w = words(line);
        if (line.rfind(".SY", 0) == 0)
            command = w.size() > 1 ? w[1] : "";
        else if (line.rfind(".I ", 0) == 0 && !command.empty())
            synopsis[command].push_back(w.at(0));
        else if (line.rfind(".RI [ ", 0) == 0 && !command.empty())
            synopsis[command].push_back("[" + w.at(1) + "]");  // an optional operand
        else if (line.rfind(".OP ", 0) == 0 && !command.empty())
            synopsis[command].push_back(operands_of({"[" + w.at(0) + (w.size() > 1 ? " " + w[1] : "") + "]"}).at(0));
    }
    for (auto &[cmd, operands] : synopsis)
        usage.try_emplace(cmd);  // the -h line has no operands to compare
    EXPECT_EQ(synopsis, usage);

    std::set<std::string> commands = {"-h", "-V"};
    for (const auto &[cmd, operands] : usage)
        commands.insert(cmd);
    EXPECT_EQ(tags("lcrtool", "COMMANDS"), commands);
}

// The version has one home, project() in CMakeLists.txt: lcrtool prints it
// and every page carries it in its title line.
TEST(ManPages, VersionFromProject)
{
    for (const char *option : {"-V", "--version"}) {
        run_result r = run_program(LCRTOOL_PATH, {option});
        EXPECT_EQ(r.out, "lcrtool " DEVTOOLS_VERSION "\n") << option;
        EXPECT_EQ(r.exit_code, 0) << option;
    }
    for (const char *page : {"burnimg", "lcrmerge", "lcrtool"}) {
        std::vector<std::string> lines = lines_of(read_file(page_path(page)));
        auto th = std::find_if(lines.begin(), lines.end(), [](const std::string &l) { return l.rfind(".TH ", 0) == 0; });
        ASSERT_NE(th, lines.end()) << page;
        std::vector<std::string> title = words(*th);
        ASSERT_GE(title.size(), 5u) << page;
        EXPECT_EQ(title[3] + " " + title[4], "devtools " DEVTOOLS_VERSION) << page;
    }
}

class ManRender : public testing::TestWithParam<const char *> {};

TEST_P(ManRender, WithoutWarnings)
{
    if (running_under_emulator())
        GTEST_SKIP() << "man pages are checked in native builds";
    run_result version = run_program("man", {"--version"});
    if (version.exit_code != 0)
        GTEST_SKIP() << "man is not installed";
    run_options opts;
    opts.env = {"MANWIDTH=80"};
    run_result r = run_program("man", {"--warnings=w", "-E", "UTF-8", "-l", page_path(GetParam())}, opts);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_NE(r.out.find("NAME"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Pages, ManRender, testing::Values("burnimg", "lcrmerge", "lcrtool"));

}  // namespace
