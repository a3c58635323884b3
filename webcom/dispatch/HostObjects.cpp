// Adapters from the C interface's callback structures.
#include "webcom/dispatch/HostObjects.h"

namespace quorvex::webcom {
namespace {

class CallbackRequest final : public IRequest {
public:
    explicit CallbackRequest(const QvxRequest& request) : request_(request) {}
    Status TotalBytes(std::int64_t& total) override { return request_.TotalBytes(request_.ctx, &total); }
    Status BinaryRead(void* buffer, std::int64_t& count) override {
        return request_.BinaryRead(request_.ctx, buffer, &count);
    }

private:
    QvxRequest request_;
};

class CallbackResponse final : public IResponse {
public:
    explicit CallbackResponse(const QvxResponse& response) : response_(response) {}
    Status SetContentType(const std::string& type) override {
        return response_.SetContentType(response_.ctx, type.c_str());
    }
    Status AddHeader(const std::string& name, const std::string& value) override {
        return response_.AddHeader(response_.ctx, name.c_str(), value.c_str());
    }
    Status BinaryWrite(std::string_view data) override {
        return response_.BinaryWrite(response_.ctx, data.data(), static_cast<std::int64_t>(data.size()));
    }

private:
    QvxResponse response_;
};

}  // namespace

std::unique_ptr<IRequest> RequestFromValue(const QvxValue& value) {
    if (value.type != kValueRequest || value.host == nullptr) return nullptr;
    const auto& request = *static_cast<const QvxRequest*>(value.host);
    if (request.TotalBytes == nullptr || request.BinaryRead == nullptr) return nullptr;
    return std::make_unique<CallbackRequest>(request);
}

std::unique_ptr<IResponse> ResponseFromValue(const QvxValue& value) {
    if (value.type != kValueResponse || value.host == nullptr) return nullptr;
    const auto& response = *static_cast<const QvxResponse*>(value.host);
    if (response.SetContentType == nullptr || response.AddHeader == nullptr || response.BinaryWrite == nullptr)
        return nullptr;
    return std::make_unique<CallbackResponse>(response);
}

}  // namespace quorvex::webcom
