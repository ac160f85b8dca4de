// What the two register links share besides TDevice: the cap on one answer and
// the byte log ("-> " sent, "<- " received, each byte as two hex digits and a
// space; level llInfo for a step that succeeded, llError for one that failed).
#pragma once

#include <cstddef>
#include <string_view>

// An answer that has not ended with ETX after this many bytes is not an
// answer: the exchange fails instead of buffering an endless stream.
inline constexpr size_t cMaxAnswerSize = 64 * 1024;

void LogLinkBytes(std::string_view ASource, std::string_view AArrow, std::string_view ABytes,
                  bool ASucceeded);
