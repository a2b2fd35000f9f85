// Runs the preview's helper programs (the map checker, the host) as child
// processes. A child's standard output goes to the console, to a file or
// nowhere; its errors go to the console unless discarded. Starting and
// waiting are apart so that independent host runs can go side by side.
#pragma once

#include <string>
#include <vector>

namespace Preview {

struct ChildOutput {
    std::string file;           // empty: the console's output
    bool discard = false;       // no output at all (wins over file)
    bool discardErrors = false; // standard error to nowhere
};

// One started process; Wait gives its exit code (or -1 when it never ran).
class Child {
public:
    Child() = default;
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    Child(Child&& other) noexcept;
    ~Child();

    // False with a message when the program could not be started.
    bool Start(const std::string& program, const std::vector<std::string>& arguments, const ChildOutput& output,
               std::string& error);
    int Wait();

private:
    void* process_ = nullptr;
};

// Starts, waits, and gives the exit code; -1 with error set when it never ran.
int RunChild(const std::string& program, const std::vector<std::string>& arguments, const ChildOutput& output,
             std::string& error);

// One argument as the C runtime splits a command line back into argv.
std::string QuoteArgument(const std::string& argument);

}  // namespace Preview
