// The page's HTTP functions: a general request, a GET for text and a file
// upload, each on a detached thread of its own.
#pragma once

#include <string>

#include "app/bridge.h"

// [request object] -> {"body","status"}; rejects with the worker's error.
void native_http(const std::string& id, const json& args);
// [address] -> the body as text; a status of 400 or more rejects.
void native_httpGet(const std::string& id, const json& args);
// [address, file path, headers?] -> PUT of the file, {"body","status"}.
void native_uploadFile(const std::string& id, const json& args);

// GET of url into out; the error text of http_fetch on failure.
bool http_get_string(const std::string& url, std::string& out, std::string& err);
