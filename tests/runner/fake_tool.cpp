// A stand-in tool for the runner tests. Each argument is one action, done
// in order:
//   out:TEXT / err:TEXT  write TEXT to stdout / stderr ("\n", "\r" escapes)
//   args                 write every argument as "[word]" lines to stdout
//   save:FILE            write the same lines to FILE
//   stdin                copy standard input to stdout
//   pid:FILE             write the process id to FILE
//   sleep:MS             sleep MS milliseconds
//   exit:N               exit with code N
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <unistd.h>

namespace {

std::string unescape(const std::string& text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size() && (text[i + 1] == 'n' || text[i + 1] == 'r')) {
            out += text[i + 1] == 'n' ? '\n' : '\r';
            ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

} // namespace

int main(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        const std::string action = argv[i];
        const auto value = [&](std::size_t prefix) { return action.substr(prefix); };
        if (action.rfind("out:", 0) == 0) {
            std::fputs(unescape(value(4)).c_str(), stdout);
            std::fflush(stdout);
        } else if (action.rfind("err:", 0) == 0) {
            std::fputs(unescape(value(4)).c_str(), stderr);
            std::fflush(stderr);
        } else if (action == "args") {
            for (int j = 1; j < argc; ++j) std::printf("[%s]\n", argv[j]);
            std::fflush(stdout);
        } else if (action.rfind("save:", 0) == 0) {
            std::ofstream file(value(5));
            for (int j = 1; j < argc; ++j) file << '[' << argv[j] << "]\n";
        } else if (action == "stdin") {
            int c;
            while ((c = std::getchar()) != EOF) std::putchar(c);
            std::fflush(stdout);
        } else if (action.rfind("pid:", 0) == 0) {
            std::ofstream(value(4)) << getpid() << '\n';
        } else if (action.rfind("sleep:", 0) == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(value(6).c_str())));
        } else if (action.rfind("exit:", 0) == 0) {
            return std::atoi(value(5).c_str());
        }
    }
    return 0;
}
