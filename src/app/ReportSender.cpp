#include "app/ReportSender.h"

#include "support/libStrings.h"

#include <cstring>
#include <curl/curl.h>
#include <memory>

namespace ReportSender {

namespace {

struct EasyDeleter {
    void operator()(CURL* p) const { curl_easy_cleanup(p); }
};
struct ListDeleter {
    void operator()(curl_slist* p) const { curl_slist_free_all(p); }
};
using Easy = std::unique_ptr<CURL, EasyDeleter>;
using List = std::unique_ptr<curl_slist, ListDeleter>;

// The message handed to libcurl piece by piece.
struct Upload {
    const std::string& Data;
    size_t Offset = 0;
};

size_t ReadUpload(char* pBuffer, size_t iSize, size_t iCount, void* pUser) {
    auto* pUpload = static_cast<Upload*>(pUser);
    const size_t iRoom = iSize * iCount;
    const size_t iLeft = pUpload->Data.size() - pUpload->Offset;
    const size_t iTake = iLeft < iRoom ? iLeft : iRoom;
    std::memcpy(pBuffer, pUpload->Data.data() + pUpload->Offset, iTake);
    pUpload->Offset += iTake;
    return iTake;
}

// An answer's body is not wanted.
size_t DropBody(char*, size_t iSize, size_t iCount, void*) { return iSize * iCount; }

int Progress(void* pUser, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    const auto* pStop = static_cast<const StopCheck*>(pUser);
    return (*pStop && (*pStop)()) ? 1 : 0; // non-zero ends the transfer
}

// The options every transfer shares: bounded times, no signals (threads), verified peers.
void Common(CURL* pCurl, const std::string& sCaFile, const StopCheck& stop, char* pError) {
    curl_easy_setopt(pCurl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(pCurl, CURLOPT_TIMEOUT, TimeoutSeconds);
    curl_easy_setopt(pCurl, CURLOPT_CONNECTTIMEOUT, ConnectTimeoutSeconds);
    curl_easy_setopt(pCurl, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(pCurl, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!sCaFile.empty()) curl_easy_setopt(pCurl, CURLOPT_CAINFO, sCaFile.c_str());
    curl_easy_setopt(pCurl, CURLOPT_ERRORBUFFER, pError);
    curl_easy_setopt(pCurl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(pCurl, CURLOPT_XFERINFOFUNCTION, &Progress);
    curl_easy_setopt(pCurl, CURLOPT_XFERINFODATA, const_cast<StopCheck*>(&stop));
}

// The reason of a failed transfer: libcurl's own words for the code, its detail and the
// server's last answer code when there was one.
std::string ReasonOf(CURL* pCurl, CURLcode code, const char* pError) {
    if (code == CURLE_ABORTED_BY_CALLBACK) return "the program ended before it could be sent";
    std::string s = curl_easy_strerror(code);
    if (pError[0] != '\0' && s != pError) s += " (" + libStrings::Trim(pError) + ")";
    long lAnswer = 0;
    if (curl_easy_getinfo(pCurl, CURLINFO_RESPONSE_CODE, &lAnswer) == CURLE_OK && lAnswer > 0)
        s += ", server answer " + std::to_string(lAnswer);
    return s;
}

// Scheme and host of a URL through libcurl's own parser; false when it does not parse.
bool SchemeAndHost(const std::string& sUrl, std::string& sScheme, std::string& sHost) {
    CURLU* pUrl = curl_url();
    if (pUrl == nullptr) return false;
    bool bOk = curl_url_set(pUrl, CURLUPART_URL, sUrl.c_str(), 0) == CURLUE_OK;
    for (auto [part, pTarget] : {std::pair{CURLUPART_SCHEME, &sScheme}, std::pair{CURLUPART_HOST, &sHost}}) {
        char* p = nullptr;
        if (bOk && curl_url_get(pUrl, part, &p, 0) == CURLUE_OK && p != nullptr) {
            *pTarget = p;
            curl_free(p);
        } else {
            bOk = false;
        }
    }
    curl_url_cleanup(pUrl);
    return bOk;
}

std::string UrlProblem(const std::string& sUrl, const char* sFirst, const char* sSecond, const std::string& sWhat) {
    std::string sScheme, sHost;
    if (sUrl.find_first_of(" \t\r\n") != std::string::npos || !SchemeAndHost(sUrl, sScheme, sHost) || sHost.empty())
        return "'" + sUrl + "' is no " + sWhat + " address";
    if (!libStrings::IEquals(sScheme, sFirst) && !libStrings::IEquals(sScheme, sSecond))
        return "'" + sUrl + "' is no " + sWhat + " address (" + sFirst + ":// or " + sSecond + ":// only)";
    return "";
}

} // namespace

bool GlobalInit(std::string& sReason) {
    const CURLcode code = curl_global_init(CURL_GLOBAL_DEFAULT);
    if (code != CURLE_OK) sReason = curl_easy_strerror(code);
    return code == CURLE_OK;
}

std::string SmtpUrlProblem(const std::string& sUrl) { return UrlProblem(sUrl, "smtps", "smtp", "mail server"); }
std::string PingUrlProblem(const std::string& sUrl) { return UrlProblem(sUrl, "https", "http", "ping"); }

Outcome SendMail(const MailServer& server, const std::string& sFrom, const std::vector<std::string>& recipients,
                 const std::string& sMessage, const StopCheck& stop) {
    if (std::string s = SmtpUrlProblem(server.Url); !s.empty()) return Outcome{false, s};
    if (recipients.empty()) return Outcome{false, "no address to send to"};
    Easy curl(curl_easy_init());
    if (!curl) return Outcome{false, "libcurl could not start a transfer"};
    char sError[CURL_ERROR_SIZE] = {};
    Common(curl.get(), server.CaFile, stop, sError);
    curl_easy_setopt(curl.get(), CURLOPT_URL, server.Url.c_str());
    curl_easy_setopt(curl.get(), CURLOPT_PROTOCOLS_STR, "smtp,smtps");
    // On smtp:// the session must turn to TLS (STARTTLS) before anything is sent, or nothing is.
    curl_easy_setopt(curl.get(), CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_ALL));
    if (!server.User.empty()) {
        curl_easy_setopt(curl.get(), CURLOPT_USERNAME, server.User.c_str());
        curl_easy_setopt(curl.get(), CURLOPT_PASSWORD, server.Password.c_str());
    }
    const std::string sMailFrom = "<" + sFrom + ">";
    curl_easy_setopt(curl.get(), CURLOPT_MAIL_FROM, sMailFrom.c_str());
    List rcpt;
    for (const std::string& sTo : recipients) {
        curl_slist* p = curl_slist_append(rcpt.get(), ("<" + sTo + ">").c_str());
        if (p == nullptr) return Outcome{false, "out of memory"};
        rcpt.release();
        rcpt.reset(p);
    }
    curl_easy_setopt(curl.get(), CURLOPT_MAIL_RCPT, rcpt.get());
    Upload upload{sMessage};
    curl_easy_setopt(curl.get(), CURLOPT_READFUNCTION, &ReadUpload);
    curl_easy_setopt(curl.get(), CURLOPT_READDATA, &upload);
    curl_easy_setopt(curl.get(), CURLOPT_UPLOAD, 1L);
    const CURLcode code = curl_easy_perform(curl.get());
    if (code != CURLE_OK) return Outcome{false, ReasonOf(curl.get(), code, sError)};
    return Outcome{true, ""};
}

Outcome Ping(const std::string& sUrl, const std::string* pBody, const std::string& sCaFile, const StopCheck& stop) {
    if (std::string s = PingUrlProblem(sUrl); !s.empty()) return Outcome{false, s};
    Easy curl(curl_easy_init());
    if (!curl) return Outcome{false, "libcurl could not start a transfer"};
    char sError[CURL_ERROR_SIZE] = {};
    Common(curl.get(), sCaFile, stop, sError);
    curl_easy_setopt(curl.get(), CURLOPT_URL, sUrl.c_str());
    curl_easy_setopt(curl.get(), CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl.get(), CURLOPT_USERAGENT, "Stowline");
    curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, &DropBody);
    List headers;
    if (pBody != nullptr) {
        headers.reset(curl_slist_append(nullptr, "Content-Type: text/plain; charset=utf-8"));
        curl_easy_setopt(curl.get(), CURLOPT_HTTPHEADER, headers.get());
        curl_easy_setopt(curl.get(), CURLOPT_POSTFIELDS, pBody->c_str());
        curl_easy_setopt(curl.get(), CURLOPT_POSTFIELDSIZE, static_cast<long>(pBody->size()));
    }
    const CURLcode code = curl_easy_perform(curl.get());
    if (code != CURLE_OK) return Outcome{false, ReasonOf(curl.get(), code, sError)};
    long lStatus = 0;
    curl_easy_getinfo(curl.get(), CURLINFO_RESPONSE_CODE, &lStatus);
    if (lStatus >= 400) return Outcome{false, "the server answered HTTP " + std::to_string(lStatus)};
    return Outcome{true, ""};
}

} // namespace ReportSender
