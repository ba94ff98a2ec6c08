// GET of one camera CGI page, judged into a result record with its log line.
#pragma once

#include <string>

#include "http/http_client.h"
#include "http/result_def.h"

namespace norvane::Utils {

// Sends GET `path`; on success `reply` holds the body and a terminating zero byte (codes 0 and
// 10); it is empty after codes 6 and 9. The exchange as a whole is bounded to twice the
// client's time-out: a head that comes later gives code 9, a body that is not complete by then
// code 10 with an empty body.
CResultDef SendRequestRD(Web::ByteBuffer& reply, Web::CHttpClient& client, const std::string& path);
// The same, discarding the body.
CResultDef SendRequestRD(Web::CHttpClient& client, const std::string& path);
// The same, true when the code is 0.
bool SendRequestRD(Web::CHttpClient& client, Web::ByteBuffer& reply, const std::string& path);

// The success-only form for a camera whose menu language was never chosen: such a camera answers
// every page with an HTML page until its language page is visited. On an answer containing
// "<HTML>" the language page is sent (its reply unread) and `path` asked for once more. False
// when a request fails or `stop` (may be null) is set before the repeat.
bool SendRequestWithLanguageFallback(Web::CHttpClient& client, Web::ByteBuffer& reply,
                                     const std::string& path, CManualEvent* stop);

}  // namespace norvane::Utils
