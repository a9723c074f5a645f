#include "explain.h"

#include "terminal.h"

namespace {

// One run, one choice: the command line sets it before anything is shown.
bool everywhere = false;

} // namespace

void explainEverywhere(bool on)
{
    everywhere = on;
}

bool explains(FILE* out)
{
    return everywhere || isTerminal(out);
}

void explain(FILE* out, const std::string& text)
{
    if (!explains(out))
        return;
    if (out == stderr)
        fflush(stdout);
    fputs(text.c_str(), out);
}
