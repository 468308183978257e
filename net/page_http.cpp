#include "net/page_http.h"

#include <thread>
#include <utility>

#include "app/threads.h"
#include "app/helpers.h"
#include "net/http.h"

namespace {

ChunkCallback append_to(std::string& out) {
    return [&out](const char* data, std::uint64_t size) {
        out.append(data, static_cast<std::size_t>(size));
        return true;
    };
}

json response_object(std::string body, int status) {
    return json{{"body", std::move(body)}, {"status", status}};
}

}  // namespace

void native_http(const std::string& id, const json& args) {
    json request = args.is_array() && !args.empty() ? args[0] : json::object();
    // value() throws the library's type error for a request that is not an
    // object and for members that are not strings: the call is refused
    // before anything goes out.
    std::string method = request.value("method", std::string("GET"));
    std::string url = request.value("url", std::string());
    std::string body = request.value("body", std::string());
    HeaderList headers = request.contains("headers") ? headers_from_json(request["headers"]) : HeaderList{};

    start_detached([id, method = std::move(method), url = std::move(url), body = std::move(body),
                 headers = std::move(headers)] {
        std::string received, err;
        int status = 0;
        if (http_request(method, url, headers, body, std::nullopt, append_to(received), status, err))
            resolve_call(id, 0, response_object(std::move(received), status));
        else
            resolve_call(id, 1, json(err));
    });
}

bool http_get_string(const std::string& url, std::string& out, std::string& err) {
    out.clear();
    return http_fetch(url, append_to(out), err, {});
}

void native_httpGet(const std::string& id, const json& args) {
    std::string url = arg_string(args, 0, "");
    start_detached([id, url = std::move(url)] {
        std::string body, err;
        if (http_get_string(url, body, err)) resolve_call(id, 0, json(std::move(body)));
        else resolve_call(id, 1, json(err));
    });
}

void native_uploadFile(const std::string& id, const json& args) {
    std::string url = arg_string(args, 0, "");
    std::string path = arg_string(args, 1, "");
    HeaderList headers = args.is_array() && args.size() > 2 ? headers_from_json(args[2]) : HeaderList{};
    start_detached([id, url = std::move(url), path = std::move(path), headers = std::move(headers)] {
        std::string received, err;
        int status = 0;
        auto file = page_path(path);
        if (!file)
            resolve_call(id, 1, json(http_text::no_file(path)));
        else if (http_request("PUT", url, headers, std::nullopt, *file, append_to(received), status, err))
            resolve_call(id, 0, response_object(std::move(received), status));
        else
            resolve_call(id, 1, json(err));
    });
}
