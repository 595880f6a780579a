#pragma once

// The 38 methods; method_table.h names them.

#include <array>

#include "invoke_support.h"
#include "method_identifiers.h"

namespace orva::npapi_plugin {

// A method that reads the library's text into a buffer of Size bytes.
template <auto frontend::ApiFunctionTable::*Export, std::size_t Size>
void textQuery(const MethodCall& call) {
    auto output = frontend::OutputBuffer::required(Size);
    answerOutput(call.self, call.result, (call.api.*Export)(output.data(), output.length()),
                 output);
}

// A method that answers the library's code alone.
template <auto frontend::ApiFunctionTable::*Export>
void codeCall(const MethodCall& call) {
    answerCode(call.result, (call.api.*Export)());
}

void getLongValue(const MethodCall& call);
template <int Slot>
void getStrValue(const MethodCall& call);
void getVersion(const MethodCall& call);
void freeBuffer(const MethodCall& call);

void gmGetPublicKey(const MethodCall& call);
void gmGetPublicKeyC(const MethodCall& call);
void gmJudgeAndDelOlderDn(const MethodCall& call);
void getPublicKeyNum(const MethodCall& call);

void gmDelTempKey(const MethodCall& call);
void custInitCard(const MethodCall& call);
void changePin(const MethodCall& call);
void setCharset(const MethodCall& call);
void setLanguage(const MethodCall& call);
void setWarningMsg(const MethodCall& call);

void gmCreatePkcs10(const MethodCall& call);
void gmWritePkcs7(const MethodCall& call);
void gmWritePkcs7Enc(const MethodCall& call);

void gmUsbKeySign(const MethodCall& call);
void gmUsbKeySignFile(const MethodCall& call);
void gmUsbKeySignFileExt(const MethodCall& call);

void nsFileToTokenExt(const MethodCall& call);
void getSignFileContent(const MethodCall& call);

}  // namespace orva::npapi_plugin
