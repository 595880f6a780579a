// File tokens as a page hands them back, through the exports that take them
// and the resolver behind them, over the software key and files of this
// fixture. The input is a sequence of steps (see README.md). A model of the
// records, the files and the failed-open count says what each call must
// answer: a token the library built decodes to its file's path and size and
// resolves back to that path while the file is unchanged; anything else is
// refused with its code; no output goes past the length the caller gave.

#include <openssl/evp.h>
#include <stdlib.h>

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "code_page_text.h"
#include "file_token.h"
#include "file_token_state.h"
#include "input_reader.h"
#include "library_lifecycle.h"
#include "orva/testing/support.h"
#include "orva_api.h"
#include "orva_result_codes.h"
#include "win32/module.h"

namespace {

namespace fs = std::filesystem;
using orva::fuzz::check;
using orva::fuzz::InputReader;
using namespace orva::api;

constexpr std::string_view kXml = "<T><File>contract.pdf</File></T>";
constexpr const char* kDisplay = "Sign contract.pdf?";
constexpr std::size_t kMaxSteps = 24;

// The files a step can name: their paths are the fixture's, except the empty
// one and the page's own name inside the files folder.
enum Slot : std::size_t {
    kPlain,
    kEmptyFile,
    kGbkName,
    kLongestPath,  // 259 bytes
    kTooLongPath,  // 260 bytes, the file exists
    kFolder,
    kMissing,
    kBackslash,
    kDeepFolder,  // no room beside it for a signature file's name
    kEmptyPath,
    kPageName,
    kSlotCount
};

// The software key, the registry and the files, made once per process.
class Fixture {
  public:
    Fixture() {
        const fs::path bin = fs::read_symlink("/proc/self/exe").parent_path();
        setenv("ORVA_SOFTKEY_DIR", (root() / "softkey").c_str(), 1);
        setenv("ORVA_REGISTRY", (root() / "registry.reg").c_str(), 1);
        setenv("TMPDIR", (root() / "tmp").c_str(), 1);
        unsetenv("ORVA_ACP");
        fs::create_directories(root() / "tmp");
        orva::testing::writeFile(root() / "registry.reg", "REGEDIT4\n");
        const std::string tool = orva::testing::shellQuote((bin / "softkey").string()) + " --dir " +
                                 orva::testing::shellQuote(store().string());
        run(tool + " create --sn SN1 --pin 12345678");
        run(tool + " provision --sn SN1 --alg sm2 --type 3 --subject 'CN=Zhang San,O=Bank'" +
            " --name sm2-sign");
        orva::testing::writeFile(store() / "user.json", R"({"pin": "12345678"})");
        check(processAttach(GetModuleHandleA(nullptr)) == TRUE);
        const std::size_t folder = files().string().size() + 1;
        paths_[kPlain] = (files() / "a.txt").string();
        paths_[kEmptyFile] = (files() / "empty").string();
        paths_[kGbkName] = (files() / "\xD6\xD0\xCE\xC4.txt").string();
        paths_[kLongestPath] = (files() / std::string(259 - folder, 'L')).string();
        paths_[kTooLongPath] = (files() / std::string(260 - folder, 'T')).string();
        paths_[kFolder] = (files() / "folder").string();
        paths_[kMissing] = (files() / "missing").string();
        paths_[kBackslash] = (files() / "back\\slash.txt").string();
        paths_[kDeepFolder] = (files() / std::string(240 - folder, 'D') / "deep.txt").string();
    }

    const fs::path& root() const noexcept { return dir_.path(); }
    fs::path store() const { return root() / "softkey"; }
    fs::path files() const { return root() / "files"; }
    fs::path temp() const { return root() / "tmp"; }
    const std::string& path(Slot slot) const { return paths_[slot]; }

    // Every input starts from the same files, records and counts.
    void reset() const {
        std::error_code ignored;
        fs::remove_all(files(), ignored);
        fs::remove_all(temp(), ignored);
        fs::remove(store() / "display.log", ignored);
        fs::create_directories(files() / "folder");
        fs::create_directories(fs::path(paths_[kDeepFolder]).parent_path());
        fs::create_directories(temp());
        for (const Slot slot :
             {kPlain, kGbkName, kLongestPath, kTooLongPath, kBackslash, kDeepFolder}) {
            orva::testing::writeFile(paths_[slot], "content of " + std::to_string(slot));
        }
        orva::testing::writeFile(paths_[kEmptyFile], "");
        FileTokenState& state = fileTokenState();
        state.chosenFile.reset();
        state.signedFile.reset();
        state.failedOpens = 0;
        unsetenv("ORVA_ACP");
    }

  private:
    static void run(const std::string& command) {
        const auto result = orva::testing::runCommand(command);
        if (result.status != 0) {
            std::fprintf(stderr, "%s: %s\n", command.c_str(), result.output.c_str());
            check(false);
        }
    }

    orva::testing::TempDir dir_{"orva-fuzz-file-token"};
    std::string paths_[kSlotCount];
};

const Fixture& fixture() {
    static const Fixture instance;
    return instance;
}

std::optional<std::string> contentOf(const std::string& path) {
    std::error_code error;
    if (!fs::is_regular_file(path, error)) {
        return std::nullopt;
    }
    const orva::Bytes bytes = orva::testing::readFile(path);
    return std::string(bytes.begin(), bytes.end());
}

// Base64 as openssl reads it; none when it is not base64.
std::optional<std::string> unbase64(std::string_view text) {
    if (text.empty() || text.size() % 4 != 0) {
        return std::nullopt;
    }
    std::string out(text.size() / 4 * 3, '\0');
    const int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                  reinterpret_cast<const unsigned char*>(text.data()),
                                  static_cast<int>(text.size()));
    if (n < 0) {
        return std::nullopt;
    }
    const std::size_t padding = text.ends_with("==") ? 2 : text.ends_with('=') ? 1 : 0;
    out.resize(static_cast<std::size_t>(n) - padding);
    return out;
}

bool isLowerHex(std::string_view digits) {
    return std::all_of(digits.begin(), digits.end(),
                       [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

bool isAscii(std::string_view text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// A token text: "TOKEN=<64 digits>||<key>=<value>||FILESIZE=<n>" in base64,
// the digits those of its record.
void checkTokenText(const FileTokenRecord& record, std::string_view key,
                    std::optional<std::string_view> value, std::uint64_t size) {
    const std::optional<std::string> text = unbase64(record.tokenText);
    check(text.has_value() && record.tokenText.size() <= 2047 && text->size() <= 1023);
    const std::string head = "TOKEN=" + record.token + "||" + std::string(key) + "=";
    const std::string tail = "||FILESIZE=" + std::to_string(size);
    check(record.token.size() == 64 && isLowerHex(record.token));
    check(text->starts_with(head) && text->ends_with(tail) &&
          text->size() >= head.size() + tail.size());
    if (value) {
        check(text->substr(head.size(), text->size() - head.size() - tail.size()) == *value);
    }
}

// How a step hands the library its output buffer and length.
struct Output {
    std::vector<char> bytes;
    bool null = false;
    int length = 0;
    int given = 0;

    static constexpr std::size_t kGuard = 32;
    static constexpr char kFill = '\x5A';

    // Room of the given length, with guard bytes after it that must stay.
    explicit Output(InputReader& in) {
        switch (in.pick(5)) {
            case 0:
                null = true;
                given = static_cast<int>(in.number<std::uint32_t>() % 4096);
                break;
            case 1:
                given = static_cast<int>(in.number<std::uint32_t>() % 4096);
                break;
            case 2:
                given = 0;
                break;
            case 3:
                given = -static_cast<int>(in.byte()) - 1;
                break;
            default:
                given = 4096;
                break;
        }
        length = given;
        bytes.assign(static_cast<std::size_t>(std::max(given, 0)) + kGuard, kFill);
    }
    char* buffer() { return null ? nullptr : bytes.data(); }

    // The text-output convention, given what the export computed.
    void checkAnswer(orva::ApiErrorCode code, std::string_view text) const {
        const auto room = static_cast<std::size_t>(std::max(given, 0));
        check(std::all_of(bytes.begin() + static_cast<std::ptrdiff_t>(room), bytes.end(),
                          [](char c) { return c == kFill; }));
        const int needed = static_cast<int>(text.size()) + 1;
        if (null) {
            check(code == orva::kSuccess && length == needed);
        } else if (given < needed) {
            check(code == orva::kBufferTooSmall && length == needed);
            check(std::all_of(bytes.begin(), bytes.end(), [](char c) { return c == kFill; }));
        } else {
            check(code == orva::kSuccess && length == needed - 1);
            check(std::string_view(bytes.data(), text.size()) == text &&
                  bytes[text.size()] == '\0');
        }
    }
};

// What the library must remember: the records it handed out and what their
// files held then.
struct Model {
    unsigned failedOpens = 0;
    std::optional<std::string> chosenPath;
    std::string chosenContent;
    std::optional<std::string> signaturePath;
    std::string signatureContent;

    // What resolving the chosen file's token must answer now.
    orva::ApiErrorCode chosenAnswer() const {
        if (!chosenPath) {
            return orva::kTokenInfoError;
        }
        const auto now = contentOf(*chosenPath);
        if (!now) {
            return orva::kOpenFileError;
        }
        // The code page may have changed since: the path must still convert.
        if (!ansiToUtf8(*chosenPath)) {
            return orva::kNoFile;
        }
        return *now == chosenContent ? orva::kSuccess : orva::kTokenInfoError;
    }
    // And the signature file's.
    orva::ApiErrorCode signatureAnswer() const {
        if (!signaturePath) {
            return orva::kTokenInfoError;
        }
        const auto now = contentOf(*signaturePath);
        if (!now) {
            return orva::kOpenFileError;
        }
        return *now == signatureContent ? orva::kSuccess : orva::kTokenInfoError;
    }
};

std::string currentDigits(const std::optional<FileTokenRecord>& record) {
    return record ? record->token : std::string();
}

std::string pathOf(InputReader& in) {
    const auto slot = static_cast<Slot>(in.pick(kSlotCount));
    if (slot == kEmptyPath) {
        return {};
    }
    if (slot != kPageName) {
        return fixture().path(slot);
    }
    // A name the page makes up, kept inside the files folder.
    std::string name(in.text(64));
    if (name.find("..") != std::string::npos) {
        name = "dots";
    }
    return (fixture().files() / name).string();
}

void nameFile(InputReader& in, Model& model) {
    const std::string path = pathOf(in);
    Output out(in);
    const orva::ApiErrorCode code{QZAPI_FileToTokenExt(path.c_str(), out.buffer(), &out.length)};
    const std::optional<FileTokenRecord>& record = fileTokenState().chosenFile;
    // Whatever happens, the token handed out before is gone.
    model.chosenPath.reset();
    if (model.failedOpens >= kFailedOpenLimit) {
        check(code == orva::kNoFileLocked && !record);
        return;
    }
    const std::optional<std::string> content = contentOf(path);
    orva::ApiErrorCode expected = orva::kSuccess;
    if (path.empty()) {
        expected = orva::kInvalidParameter;
    } else if (path.size() > kFileTokenPathLimit) {
        expected = orva::kNoFile;
    } else if (!content) {
        expected = orva::kOpenFileError;
        ++model.failedOpens;
    }
    // A path outside ASCII may not convert from the code page.
    if (expected == orva::kSuccess && code == orva::kNoFile && !isAscii(path)) {
        check(!record);
        return;
    }
    if (expected != orva::kSuccess) {
        check(code == expected && !record);
        return;
    }
    check(record.has_value() && record->path == path && record->mode == FileTokenMode::named);
    out.checkAnswer(code, record->tokenText);
    // ASCII reads the same in every code page.
    checkTokenText(*record, "FILEPATH",
                   isAscii(path) ? std::optional<std::string_view>(path) : std::nullopt,
                   content->size());
    model.chosenPath = path;
    model.chosenContent = *content;
    const Result<ResolvedFile> resolved =
        resolveFileToken(record->token, FileTokenKeyName::filePath);
    check(resolved && resolved->path == path && resolved->length == content->size());
}

// One of the fixture's files, or the signature file written last.
void changeFile(InputReader& in, const Model& model) {
    const std::size_t slot = in.pick(kEmptyPath + 1);
    const std::string& path = slot < kEmptyPath     ? fixture().path(static_cast<Slot>(slot))
                              : model.signaturePath ? *model.signaturePath
                                                    : fixture().path(kPlain);
    std::error_code ignored;
    switch (in.pick(4)) {
        case 0:
            if (auto content = contentOf(path)) {
                orva::testing::writeFile(path, *content + static_cast<char>(in.byte()));
            }
            break;
        case 1:
            if (auto content = contentOf(path); content && !content->empty()) {
                (*content)[0] = static_cast<char>(in.byte());
                orva::testing::writeFile(path, *content);
            }
            break;
        case 2:
            fs::remove(path, ignored);
            break;
        default:
            if (!fs::is_directory(path, ignored)) {
                orva::testing::writeFile(path, in.text(16));
            }
            break;
    }
}

// The token a page hands back for a record: its digits, one of them
// changed, in upper case, the base64 text instead, the other record's
// digits, or the page's own text.
std::string tokenOf(InputReader& in, const std::optional<FileTokenRecord>& own,
                    const std::optional<FileTokenRecord>& other) {
    const std::string digits = currentDigits(own);
    switch (in.pick(6)) {
        case 0:
            return std::string(in.text(80));
        case 1: {
            std::string changed = digits;
            if (!changed.empty()) {
                const std::size_t at = in.pick(changed.size());
                changed[at] = static_cast<char>(in.byte() | 1);
            }
            return changed;
        }
        case 2:
            return own ? own->tokenText : std::string();
        case 3: {
            std::string upper = digits;
            std::transform(upper.begin(), upper.end(), upper.begin(),
                           [](char c) { return c >= 'a' && c <= 'f' ? c - 'a' + 'A' : c; });
            return upper;
        }
        case 4:
            return currentDigits(other);
        default:
            return digits;
    }
}

// The resolver, for either record, with any token.
void resolve(InputReader& in, const Model& model) {
    const bool byName = in.byte() % 2 == 1;
    const FileTokenState& state = fileTokenState();
    const std::optional<FileTokenRecord>& record = byName ? state.signedFile : state.chosenFile;
    const std::string digits = tokenOf(in, record, byName ? state.chosenFile : state.signedFile);
    const Result<ResolvedFile> resolved =
        resolveFileToken(digits, byName ? FileTokenKeyName::fileName : FileTokenKeyName::filePath);
    const orva::ApiErrorCode code = resolved.code();
    // A refusal hands back no file.
    if (!record || digits != record->token) {
        check(code == orva::kTokenInfoError && !resolved);
        return;
    }
    const orva::ApiErrorCode expected = byName ? model.signatureAnswer() : model.chosenAnswer();
    check(code == expected &&
          (code != orva::kSuccess ||
           (resolved && resolved->path == (byName ? *model.signaturePath : *model.chosenPath))));
}

void signFile(InputReader& in, Model& model) {
    const FileTokenState& state = fileTokenState();
    const std::string real = currentDigits(state.chosenFile);
    const std::string digits = tokenOf(in, state.chosenFile, state.signedFile);
    const int xmlLength = in.byte() % 8 == 0 ? 0 : static_cast<int>(kXml.size());
    Output out(in);
    const orva::ApiErrorCode code{QZAPI_GMUsbKeySignFileExt(
        "", "SM3", kXml.data(), xmlLength, kDisplay, digits.c_str(), out.buffer(), &out.length)};
    const std::optional<FileTokenRecord>& record = fileTokenState().signedFile;
    model.signaturePath.reset();
    if (xmlLength == 0 || digits.empty()) {
        check(code == orva::kInvalidParameter && !record);
        return;
    }
    if (digits != real) {
        check(code == orva::kTokenInfoError && !record);
        return;
    }
    const orva::ApiErrorCode expected = model.chosenAnswer();
    if (expected != orva::kSuccess) {
        check(code == expected && !record);
        return;
    }
    // Signed, also on a size query or a short buffer.
    check(record.has_value());
    out.checkAnswer(code, record->tokenText);
    const auto content = contentOf(record->path);
    check(content.has_value());
    const std::string& signedPath = *model.chosenPath;
    const fs::path folder = fs::path(signedPath).parent_path();
    const fs::path written = fs::path(record->path).parent_path();
    check(written == folder || written == fixture().temp());
    checkTokenText(*record, "FILENAME",
                   isAscii(record->path)
                       ? std::optional<std::string_view>(fs::path(record->path).filename().native())
                       : std::nullopt,
                   content->size());
    model.signaturePath = record->path;
    model.signatureContent = *content;
}

int lengthOf(InputReader& in) {
    switch (in.pick(5)) {
        case 0:
            return 0;
        case 1:
            return -static_cast<int>(in.byte());
        case 2:
            return INT_MAX;
        default:
            return static_cast<int>(in.number<std::uint32_t>() % 3000);
    }
}

void readPiece(InputReader& in, const Model& model) {
    const FileTokenState& state = fileTokenState();
    const std::string real = currentDigits(state.signedFile);
    const std::string digits = tokenOf(in, state.signedFile, state.chosenFile);
    const int maxLength = lengthOf(in);
    const int offset = lengthOf(in);
    Output out(in);
    const orva::ApiErrorCode code{
        QZAPI_GetSignFileContent(digits.c_str(), maxLength, offset, out.buffer(), &out.length)};
    if (digits.empty() || maxLength <= 0 || offset < 0) {
        check(code == orva::kInvalidParameter);
        return;
    }
    if (!model.signaturePath || digits != real) {
        check(code == orva::kTokenInfoError);
        return;
    }
    const auto now = contentOf(*model.signaturePath);
    if (!now) {
        check(code == orva::kOpenFileError);
        return;
    }
    if (*now != model.signatureContent) {
        check(code == orva::kTokenInfoError);
        return;
    }
    const auto start = static_cast<std::size_t>(offset);
    if (start >= now->size()) {
        check(code == orva::kInvalidParameter);
        return;
    }
    const std::string bytes = now->substr(start, static_cast<std::size_t>(maxLength));
    const char mark = start + bytes.size() == now->size() ? '2' : start == 0 ? '0' : '1';
    out.checkAnswer(code, std::string("MARK=") + mark + "||CONTENT=" + bytes);
}

// The builder itself, over a file the fixture holds or the chosen file, with
// a salt and a key from the input: the same file, salt, mode and key give the
// same text; another salt gives other digits.
void buildWithSalt(InputReader& in) {
    const auto slot = static_cast<Slot>(in.pick(kEmptyPath));
    const FileTokenMode mode = in.byte() % 2 == 0 ? FileTokenMode::chosen : FileTokenMode::named;
    const FileTokenKeyName key =
        in.byte() % 2 == 0 ? FileTokenKeyName::filePath : FileTokenKeyName::fileName;
    FileTokenSalt salt{};
    const auto given = in.bytes(salt.size());
    std::copy(given.begin(), given.end(), salt.begin());
    const std::optional<FileTokenRecord>& record = fileTokenState().chosenFile;
    const bool fromRecord = record && in.byte() % 2 == 0;
    const std::string path = fromRecord ? record->path : fixture().path(slot);
    if (fromRecord && in.byte() % 2 == 0) {
        salt = record->salt;
    }
    const Result<FileToken> first = buildFileToken(mode, path, salt, key);
    if (!first) {
        check(first.code() == orva::kNoFile || first.code() == orva::kOpenFileError);
        return;
    }
    const Result<FileToken> again = buildFileToken(mode, path, salt, key);
    check(again && again->text == first->text && again->token == first->token);
    const bool byName = key == FileTokenKeyName::fileName;
    if (isAscii(path)) {
        const std::string name = fs::path(path).filename().string();
        checkTokenText(FileTokenRecord{first->text, salt, path, first->token, mode},
                       byName ? "FILENAME" : "FILEPATH", byName ? name : path,
                       contentOf(path)->size());
    }
    if (fromRecord && salt != record->salt) {
        check(first->token != record->token);
    }
    salt[0] ^= 0x80;
    const Result<FileToken> salted = buildFileToken(mode, path, salt, key);
    check(salted && salted->token != first->token);
}

void setCodePage(InputReader& in) {
    static constexpr const char* kPages[] = {"65001", "936", "54936"};
    setenv("ORVA_ACP", kPages[in.pick(3)], 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fixture().reset();
    InputReader in(data, size);
    Model model;
    for (std::size_t step = 0; step < kMaxSteps && !in.empty(); ++step) {
        switch (in.pick(7)) {
            case 0:
                nameFile(in, model);
                break;
            case 1:
                changeFile(in, model);
                break;
            case 2:
                resolve(in, model);
                break;
            case 3:
                signFile(in, model);
                break;
            case 4:
                readPiece(in, model);
                break;
            case 5:
                setCodePage(in);
                break;
            default:
                buildWithSalt(in);
                break;
        }
    }
    return 0;
}
