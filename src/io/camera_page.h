// One camera CGI request that may meet the camera's language page: a camera whose menu
// language was never chosen answers every CGI with an HTML page until /cgi-bin/lang.cgi is
// visited. Shared by the alarm and the motion pollers.
#pragma once

#include <cstddef>
#include <string>

#include "foundation/event.h"
#include "http/http_client.h"
#include "http/result_def.h"

namespace norvane {

// Length of a reply without the zero byte the request helper appends.
size_t ReplyLength(const Web::ByteBuffer& reply);
// The reply up to its first zero byte.
std::string ReplyText(const Web::ByteBuffer& reply);
// True when the reply holds "<HTML>" anywhere in its own length (replies may be binary).
bool IsLanguagePage(const Web::ByteBuffer& reply);

// GET `path` into `reply`. Fails at once when `stop` is set. A language page leads to one
// visit of the language CGI and one repeat; only a reply that is not (or no longer) the
// language page succeeds. When a request ends with a failure code, `failure` (if given)
// receives its result for the caller's log; failures caused by the stop or by the language page
// leave it untouched.
bool RequestWithLanguageFallback(Web::CHttpClient& client, const std::string& path,
                                 Web::ByteBuffer& reply, CManualEvent& stop,
                                 CResultDef* failure = nullptr);

}  // namespace norvane
