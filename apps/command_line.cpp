#include "apps/command_line.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <system_error>

namespace pitchime::apps {

int commandLineError(const Program& program, const std::string& message) {
    std::fprintf(stderr, "%s: %s\n%sTry '%s --help' for more.\n", program.name, message.c_str(),
                 program.usage, program.name);
    return 2;
}

int failure(const Program& program, const std::string& message) {
    std::fprintf(stderr, "%s: %s\n", program.name, message.c_str());
    return 1;
}

int readArguments(const Program& program, std::span<const Option> options, int argc, char** argv,
                  std::vector<const char*>& operands, const OptionHandler& handle) {
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (optionsEnded || arg.empty() || arg[0] != '-' || (arg == "-" && !program.dashFiles)) {
            operands.push_back(argv[i]);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (arg == "--help" || (program.shortForms && arg == "-h")) {
            std::printf("%s\n%s", program.usage, program.help);
            return 0;
        }
        if (arg == "--version" || (program.shortForms && arg == "-V")) {
            std::printf("%s %s\n", program.name, program.version);
            return 0;
        }
        const auto named = [&](const Option& o) {
            return arg == o.name || (o.takesValue && arg.starts_with(o.name) && arg.size() > o.name.size() &&
                                     arg[o.name.size()] == '=');
        };
        const auto option = std::find_if(options.begin(), options.end(), named);
        std::error_code unknown;
        if (option == options.end() && program.dashFiles && std::filesystem::exists(argv[i], unknown)) {
            operands.push_back(argv[i]);
            continue;
        }
        if (option == options.end())
            return commandLineError(program, "unknown option '" + std::string(arg) + "'" +
                                                 (program.dashFiles ? ", and no file of that name" : ""));
        const char* value = nullptr;
        if (option->takesValue && arg == option->name) {
            value = i + 1 < argc ? argv[++i] : nullptr;
            if (value == nullptr)
                return commandLineError(program, std::string(option->name) + " needs a value");
        } else if (option->takesValue) {
            value = argv[i] + option->name.size() + 1;
        }
        if (const std::string problem = handle(option->name, value); !problem.empty())
            return commandLineError(program, problem);
    }
    return -1;
}

int readScoreArgument(const Program& program, int argc, char** argv, const char*& score) {
    std::vector<const char*> operands;
    const int status = readArguments(program, {}, argc, argv, operands, nullptr);
    score = operands.empty() ? nullptr : operands[0];
    if (status < 0 && operands.size() > 1) {
        std::string ignored;
        for (std::size_t i = 1; i < operands.size(); ++i) ignored += std::string(" ") + operands[i];
        std::fprintf(stderr, "%s: plays one score; ignoring the arguments after %s:%s\n", program.name, score,
                     ignored.c_str());
    }
    return status;
}

bool parseNumber(const char* text, long low, long high, int& value) {
    errno = 0;
    char* end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || v < low || v > high) return false;
    value = static_cast<int>(v);
    return true;
}

bool parseNumberList(std::string_view text, int high, std::vector<int>& numbers) {
    numbers.clear();
    while (!text.empty()) {
        const std::size_t comma = text.find(',');
        const std::string item(text.substr(0, comma));
        text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
        const std::size_t dash = item.find('-', 1);
        int first = 0;
        if (!parseNumber(item.substr(0, dash).c_str(), 1, high, first)) return false;
        int last = first;
        if (dash != std::string::npos && !parseNumber(item.substr(dash + 1).c_str(), first, high, last))
            return false;
        for (int i = first; i <= last; ++i) numbers.push_back(i);
    }
    return true;
}

bool readWholeFile(const char* path, std::vector<std::uint8_t>& bytes, std::string& error) {
    std::error_code ignored;
    const bool directory = std::filesystem::is_directory(path, ignored);
    std::FILE* f = directory ? nullptr : std::fopen(path, "rb");
    if (f == nullptr) {
        error = std::string(path) + ": cannot open: " + std::strerror(directory ? EISDIR : errno);
        return false;
    }
    std::uint8_t block[65536];
    for (std::size_t n; (n = std::fread(block, 1, sizeof block, f)) > 0;)
        bytes.insert(bytes.end(), block, block + n);
    const bool failed = std::ferror(f) != 0;
    const int readError = errno;
    std::fclose(f);
    if (failed) error = std::string(path) + ": cannot read: " + std::strerror(readError);
    return !failed;
}

bool readMidiFile(const char* path, midi::File& file, std::string& error) {
    std::vector<std::uint8_t> bytes;
    if (!readWholeFile(path, bytes, error)) return false;
    midi::Error readError;
    if (midi::readFile(bytes, file, readError)) return true;
    error = std::string(path) + ": byte " + std::to_string(readError.offset) + ": " + readError.what;
    return false;
}

std::string cutShort(const char* path, const midi::File& file) {
    return std::string(path) + ": byte " + std::to_string(file.cutAt) + ": the file ends inside track " +
           std::to_string(file.cutTrack + 1);
}

std::string writeWhole(const char* path, std::string_view bytes) {
    namespace fs = std::filesystem;
    const std::string temporary =
        std::string(path) + ".pitchime-" + std::to_string(std::random_device()()) + ".tmp";
    const auto cannot = [path](const std::string& why) {
        return std::string("cannot write ") + path + ": " + why;
    };
    std::FILE* file = std::fopen(temporary.c_str(), "wb");
    if (file == nullptr) return cannot(std::strerror(errno));
    bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    int error = errno;
    if (std::fclose(file) != 0 && written) {
        written = false;
        error = errno;
    }
    std::error_code ec;
    if (written) {
        fs::rename(temporary, path, ec);
        // Some systems refuse to rename over an existing file.
        if (ec && fs::is_regular_file(path)) {
            std::error_code ignored;
            fs::remove(path, ignored);
            ec.clear();
            fs::rename(temporary, path, ec);
        }
        if (!ec) return "";
    }
    std::error_code ignored;
    fs::remove(temporary, ignored);
    return cannot(ec ? ec.message() : std::strerror(error));
}

}  // namespace pitchime::apps
