// Contexts (containers) and provider parameters: CPAcquireContext,
// CPReleaseContext, CPGetProvParam, CPSetProvParam, CPGenRandom.

#include <openssl/rand.h>

#include <cstring>
#include <functional>
#include <span>
#include <string_view>

#include "algorithms.h"
#include "csp_containers.h"
#include "module_state.h"
#include "win32/errors.h"

using namespace orva::qzcore3;
namespace csp = orva::softkey::csp;

namespace {

std::string_view containerName(LPCSTR name) {
    if (name == nullptr) {
        return {};
    }
    // Bounded: a name longer than any container's is no container.
    const void* end = std::memchr(name, '\0', csp::kMaxContainerName + 1);
    if (end == nullptr) {
        throw CspError(NTE_BAD_KEYSET);
    }
    return std::string_view(name, static_cast<std::size_t>(static_cast<const char*>(end) - name));
}

Context openContainer(Call& call, std::string_view name) {
    Context context;
    context.container = std::string(name);
    for (const DWORD keySpec : {AT_KEYEXCHANGE, AT_SIGNATURE}) {
        if (auto key = loadKey(call.store(), *context.container, keySpec)) {
            context.keys.emplace(keySpec, std::move(key));
        }
    }
    return context;
}

// One step of a walk: CRYPT_FIRST (or a first CRYPT_NEXT) takes what there is
// now; a short buffer leaves the cursor where it is.
template <typename Item>
void walk(Cursor<Item>& cursor, DWORD flags, const std::function<std::vector<Item>()>& items,
          const std::function<std::span<const std::uint8_t>(const Item&)>& bytes, BYTE* data,
          DWORD* size) {
    if ((flags & CRYPT_FIRST) != 0 || !cursor.started) {
        cursor.items = items();
        cursor.next = 0;
        cursor.started = true;
    }
    if (cursor.next >= cursor.items.size()) {
        throw CspError(ERROR_NO_MORE_ITEMS);
    }
    fillBuffer(bytes(cursor.items[cursor.next]), data, size);
    if (data != nullptr) {
        ++cursor.next;
    }
}

void enumContainers(Call& call, Context& context, BYTE* data, DWORD* size, DWORD flags) {
    walk<std::string>(
        context.containers, flags, [&] { return csp::containerNames(call.store()); },
        [](const std::string& name) {
            return std::span<const std::uint8_t>(
                reinterpret_cast<const std::uint8_t*>(name.c_str()), name.size() + 1);
        },
        data, size);
}

void enumAlgorithms(Call& call, Context& context, BYTE* data, DWORD* size, DWORD flags) {
    walk<PROV_ENUMALGS_EX>(
        context.algorithms, flags, [&] { return algorithmRecords(call.store()); },
        [](const PROV_ENUMALGS_EX& record) {
            return std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(&record),
                                                 sizeof record);
        },
        data, size);
}

}  // namespace

ORVA_API_ENTRY BOOL CPAcquireContext(HCRYPTPROV* phProv, LPCSTR szContainer, DWORD dwFlags,
                                     PVTableProvStruc /*pVTable*/) {
    return runEntry("CPAcquireContext", hexWord(dwFlags), [&](Call& call) {
        if (phProv == nullptr) {
            throw CspError(ERROR_INVALID_PARAMETER);
        }
        const DWORD known =
            CRYPT_VERIFYCONTEXT | CRYPT_NEWKEYSET | CRYPT_DELETEKEYSET | CRYPT_SILENT;
        if ((dwFlags & ~known) != 0) {
            throw CspError(NTE_BAD_FLAGS);
        }
        if ((dwFlags & CRYPT_VERIFYCONTEXT) == CRYPT_VERIFYCONTEXT) {
            *phProv = call.handles().addContext(Context{});
            return;
        }
        const std::string_view name = containerName(szContainer);
        if (!csp::isValidContainerName(name)) {
            throw CspError(NTE_BAD_KEYSET);
        }
        if ((dwFlags & CRYPT_DELETEKEYSET) != 0) {
            if (!csp::eraseContainer(call.store(), name)) {
                throw CspError(NTE_BAD_KEYSET);
            }
            *phProv = 0;
            return;
        }
        if ((dwFlags & CRYPT_NEWKEYSET) != 0 && !csp::createContainer(call.store(), name)) {
            throw CspError(NTE_EXISTS);
        }
        *phProv = call.handles().addContext(openContainer(call, name));
    });
}

ORVA_API_ENTRY BOOL CPReleaseContext(HCRYPTPROV hProv, DWORD dwFlags) {
    return runEntry("CPReleaseContext", "", [&](Call& call) {
        if (dwFlags != 0) {
            throw CspError(NTE_BAD_FLAGS);
        }
        call.handles().releaseContext(hProv);
    });
}

ORVA_API_ENTRY BOOL CPGetProvParam(HCRYPTPROV hProv, DWORD dwParam, BYTE* pbData, DWORD* pcbDataLen,
                                   DWORD dwFlags) {
    return runEntry("CPGetProvParam", std::to_string(dwParam) + " " + hexWord(dwFlags),
                    [&](Call& call) {
                        Context& context = call.handles().context(hProv);
                        if ((dwFlags & ~(CRYPT_FIRST | CRYPT_NEXT)) != 0) {
                            throw CspError(NTE_BAD_FLAGS);
                        }
                        switch (dwParam) {
                            case PP_ENUMCONTAINERS:
                                enumContainers(call, context, pbData, pcbDataLen, dwFlags);
                                return;
                            case PP_ENUMALGS_EX:
                                enumAlgorithms(call, context, pbData, pcbDataLen, dwFlags);
                                return;
                            default:
                                throw CspError(NTE_BAD_TYPE);
                        }
                    });
}

ORVA_API_ENTRY BOOL CPSetProvParam(HCRYPTPROV, DWORD, const BYTE*, DWORD) {
    return runEntry("CPSetProvParam", "", [](Call&) { throw CspError(NTE_NOT_SUPPORTED); });
}

ORVA_API_ENTRY BOOL CPGenRandom(HCRYPTPROV hProv, DWORD dwLen, BYTE* pbBuffer) {
    return runEntry("CPGenRandom", "", [&](Call& call) {
        call.handles().context(hProv);
        if (pbBuffer == nullptr && dwLen != 0) {
            throw CspError(ERROR_INVALID_PARAMETER);
        }
        if (dwLen > 0x7FFFFFFFu) {
            throw CspError(NTE_BAD_LEN);
        }
        if (dwLen != 0 && RAND_bytes(pbBuffer, static_cast<int>(dwLen)) != 1) {
            throw CspError(NTE_FAIL);
        }
    });
}

// Test support: contexts not yet released.
ORVA_API_ENTRY DWORD QZCore3LiveContexts(void) {
    try {
        Call call("QZCore3LiveContexts", "");
        return static_cast<DWORD>(call.handles().liveContexts());
    } catch (...) {
        return 0xFFFFFFFFu;
    }
}
