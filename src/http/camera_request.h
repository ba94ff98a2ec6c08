// GET of one camera CGI page, judged into a result record with its log line.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "http/http_client.h"
#include "http/result_def.h"

namespace norvane::Utils {

// The camera's language page: a camera whose menu language was never chosen answers every CGI
// with an HTML page until this page is visited.
constexpr const char* LANGUAGE_PAGE = "/cgi-bin/lang.cgi";

// Sends GET `path`; on success `reply` holds the body and a terminating zero byte (codes 0, 10
// and 11); it is empty after codes 6 and 9. The exchange as a whole is bounded to twice the
// client's time-out: a head that comes later gives code 9, a body that is not complete by then
// code 10 with an empty body, as does a body short of its Content-Length. A body longer than the
// client's MAX_RESPONSE gives code 11 with an empty body.
CResultDef SendRequestRD(Web::ByteBuffer& reply, Web::CHttpClient& client, const std::string& path);
// The same, discarding the body.
CResultDef SendRequestRD(Web::CHttpClient& client, const std::string& path);
// The same, true when the code is 0.
bool SendRequestRD(Web::CHttpClient& client, Web::ByteBuffer& reply, const std::string& path);

// Length of a reply without the zero byte the request helper appends.
size_t ReplyLength(const Web::ByteBuffer& reply);
// The reply up to its first zero byte, seen in place: valid while the buffer is unchanged.
std::string_view ReplyText(const Web::ByteBuffer& reply);
// True when the reply holds "<HTML>" anywhere in its own length (replies may be binary).
bool IsLanguagePage(const Web::ByteBuffer& reply);

// GET `path` into `reply` from a camera whose menu language may never have been chosen: such a
// camera answers every CGI with an HTML page until its language page is visited. A language page
// leads to one visit of "/cgi-bin/lang.cgi" (its reply unread) and one repeat; only a reply that
// is not (or no longer) the language page succeeds. Fails at once when `stop` (may be null) is
// set. When a request ends with a failure code, `failure` (if given) receives its result for the
// caller's log; failures caused by the stop or by the language page leave it untouched.
bool SendRequestWithLanguageFallback(Web::CHttpClient& client, Web::ByteBuffer& reply,
                                     const std::string& path, CManualEvent* stop,
                                     CResultDef* failure = nullptr);

}  // namespace norvane::Utils
