// Camera pages that no CGI client may take whole: one far larger than any CGI page, one without
// end, and one that announces more than it sends and then holds its connection.
#pragma once

#include <cstddef>
#include <cstdint>

#include "camsim/http_server.h"

namespace camsim {

// Most bytes an endless page sends before it gives up on a peer that takes them all.
constexpr uint64_t ENDLESS_PAGE_LIMIT = 4ull << 30;

// A 200 page of `bytes` reply lines with their Content-Length, made as they are sent.
HttpReply OversizedPage(uint64_t bytes);
// A 200 page of reply lines without a length that ends only when the peer leaves (or at
// ENDLESS_PAGE_LIMIT).
HttpReply EndlessPage();
// A 200 page announcing `announced` bytes that sends `sent` of them and keeps the connection.
HttpReply ShortPage(size_t announced, size_t sent);

}  // namespace camsim
