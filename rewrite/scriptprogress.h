#pragma once

#include <cstdint>
#include <functional>
#include <stdexcept>

// Told now and then while one script is rewritten: the bytes read so far and the script's
// length. Returning false abandons the script: it is left exactly as it was, nothing of the
// rewrite stays behind, and ModificarScript throws RewriteAbandoned.
using ScriptProgress = std::function<bool(std::uint64_t done, std::uint64_t total)>;

// The caller asked, through ScriptProgress, to stop the script under way.
class RewriteAbandoned : public std::runtime_error
{
public:
    RewriteAbandoned() : std::runtime_error("rewrite abandoned") {}
};
