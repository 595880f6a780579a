#pragma once

// The plug-in interface between a browser and a plug-in library: the two
// function tables, scriptable objects, script values and windows. Written from
// what our plug-in and our stand-in browser use, laid out for LP64.

#include <stdint.h>

typedef int16_t NPError;
typedef uint8_t NPBool;
typedef int16_t NPReason;
typedef char NPUTF8;
typedef char* NPMIMEType;

#define NPERR_NO_ERROR 0
#define NPERR_GENERIC_ERROR 1
#define NPERR_INVALID_INSTANCE_ERROR 2
#define NPERR_INVALID_FUNCTABLE_ERROR 3
#define NPERR_MODULE_LOAD_FAILED_ERROR 4
#define NPERR_OUT_OF_MEMORY_ERROR 5
#define NPERR_INCOMPATIBLE_VERSION_ERROR 8

// The browser table's major version is the high byte of its version field.
#define NP_VERSION_MAJOR 0
// The plug-in table version our plug-in reports.
#define NP_PLUGIN_TABLE_VERSION 22

// One embedded object; the browser owns ndata, the plug-in pdata.
typedef struct NPP_t {
    void* pdata;
    void* ndata;
} NPP_t;
typedef NPP_t* NPP;

typedef struct NPSavedData {
    int32_t len;
    void* buf;
} NPSavedData;

typedef struct NPStream {
    void* pdata;
    void* ndata;
    const char* url;
    uint32_t end;
    uint32_t lastmodified;
    void* notifyData;
    const char* headers;
} NPStream;

typedef struct NPRect {
    uint16_t top;
    uint16_t left;
    uint16_t bottom;
    uint16_t right;
} NPRect;

typedef enum { NPWindowTypeWindow = 1, NPWindowTypeDrawable } NPWindowType;

typedef struct NPWindow {
    void* window;  // the window handle
    int32_t x;
    int32_t y;
    uint32_t width;
    uint32_t height;
    NPRect clipRect;
    NPWindowType type;
} NPWindow;

typedef enum {
    NPPVpluginNameString = 1,
    NPPVpluginDescriptionString = 2,
    NPPVpluginScriptableNPObject = 15,
} NPPVariable;

typedef int NPNVariable;

// Identifiers are opaque to the plug-in; equal names give equal identifiers.
typedef void* NPIdentifier;

typedef struct NPString {
    const NPUTF8* UTF8Characters;
    uint32_t UTF8Length;
} NPString;

typedef enum {
    NPVariantType_Void = 0,
    NPVariantType_Null = 1,
    NPVariantType_Bool = 2,
    NPVariantType_Int32 = 3,
    NPVariantType_Double = 4,
    NPVariantType_String = 5,
    NPVariantType_Object = 6,
} NPVariantType;

typedef struct NPObject NPObject;
typedef struct NPClass NPClass;

typedef struct NPVariant {
    NPVariantType type;
    union {
        bool boolValue;
        int32_t intValue;
        double doubleValue;
        NPString stringValue;
        NPObject* objectValue;
    } value;
} NPVariant;

typedef NPObject* (*NPAllocateFunctionPtr)(NPP npp, NPClass* aClass);
typedef void (*NPDeallocateFunctionPtr)(NPObject* npobj);
typedef void (*NPInvalidateFunctionPtr)(NPObject* npobj);
typedef bool (*NPHasMethodFunctionPtr)(NPObject* npobj, NPIdentifier name);
typedef bool (*NPInvokeFunctionPtr)(NPObject* npobj, NPIdentifier name, const NPVariant* args,
                                    uint32_t argCount, NPVariant* result);
typedef bool (*NPInvokeDefaultFunctionPtr)(NPObject* npobj, const NPVariant* args,
                                           uint32_t argCount, NPVariant* result);
typedef bool (*NPHasPropertyFunctionPtr)(NPObject* npobj, NPIdentifier name);
typedef bool (*NPGetPropertyFunctionPtr)(NPObject* npobj, NPIdentifier name, NPVariant* result);
typedef bool (*NPSetPropertyFunctionPtr)(NPObject* npobj, NPIdentifier name,
                                         const NPVariant* value);
typedef bool (*NPRemovePropertyFunctionPtr)(NPObject* npobj, NPIdentifier name);
typedef bool (*NPEnumerationFunctionPtr)(NPObject* npobj, NPIdentifier** value, uint32_t* count);
typedef bool (*NPConstructFunctionPtr)(NPObject* npobj, const NPVariant* args, uint32_t argCount,
                                       NPVariant* result);

#define NP_CLASS_STRUCT_VERSION 3

struct NPClass {
    uint32_t structVersion;
    NPAllocateFunctionPtr allocate;
    NPDeallocateFunctionPtr deallocate;
    NPInvalidateFunctionPtr invalidate;
    NPHasMethodFunctionPtr hasMethod;
    NPInvokeFunctionPtr invoke;
    NPInvokeDefaultFunctionPtr invokeDefault;
    NPHasPropertyFunctionPtr hasProperty;
    NPGetPropertyFunctionPtr getProperty;
    NPSetPropertyFunctionPtr setProperty;
    NPRemovePropertyFunctionPtr removeProperty;
    NPEnumerationFunctionPtr enumerate;
    NPConstructFunctionPtr construct;
};

struct NPObject {
    NPClass* _class;
    uint32_t referenceCount;
};

// The plug-in's callbacks, filled by NP_GetEntryPoints.
typedef NPError (*NPP_NewProcPtr)(NPMIMEType pluginType, NPP instance, uint16_t mode, int16_t argc,
                                  char* argn[], char* argv[], NPSavedData* saved);
typedef NPError (*NPP_DestroyProcPtr)(NPP instance, NPSavedData** save);
typedef NPError (*NPP_SetWindowProcPtr)(NPP instance, NPWindow* window);
typedef NPError (*NPP_NewStreamProcPtr)(NPP instance, NPMIMEType type, NPStream* stream,
                                        NPBool seekable, uint16_t* stype);
typedef NPError (*NPP_DestroyStreamProcPtr)(NPP instance, NPStream* stream, NPReason reason);
typedef void (*NPP_StreamAsFileProcPtr)(NPP instance, NPStream* stream, const char* fname);
typedef int32_t (*NPP_WriteReadyProcPtr)(NPP instance, NPStream* stream);
typedef int32_t (*NPP_WriteProcPtr)(NPP instance, NPStream* stream, int32_t offset, int32_t len,
                                    void* buffer);
typedef void (*NPP_PrintProcPtr)(NPP instance, void* platformPrint);
typedef int16_t (*NPP_HandleEventProcPtr)(NPP instance, void* event);
typedef void (*NPP_URLNotifyProcPtr)(NPP instance, const char* url, NPReason reason,
                                     void* notifyData);
typedef NPError (*NPP_GetValueProcPtr)(NPP instance, NPPVariable variable, void* value);
typedef NPError (*NPP_SetValueProcPtr)(NPP instance, NPNVariable variable, void* value);

typedef struct NPPluginFuncs {
    uint16_t size;
    uint16_t version;
    NPP_NewProcPtr newp;
    NPP_DestroyProcPtr destroy;
    NPP_SetWindowProcPtr setwindow;
    NPP_NewStreamProcPtr newstream;
    NPP_DestroyStreamProcPtr destroystream;
    NPP_StreamAsFileProcPtr asfile;
    NPP_WriteReadyProcPtr writeready;
    NPP_WriteProcPtr write;
    NPP_PrintProcPtr print;
    NPP_HandleEventProcPtr event;
    NPP_URLNotifyProcPtr urlnotify;
    void* javaClass;
    NPP_GetValueProcPtr getvalue;
    NPP_SetValueProcPtr setvalue;
} NPPluginFuncs;

// The browser's functions the plug-in calls; the slots it does not call keep
// a generic type.
typedef void (*NPN_GenericProcPtr)(void);
typedef void* (*NPN_MemAllocProcPtr)(uint32_t size);
typedef void (*NPN_MemFreeProcPtr)(void* ptr);
typedef NPIdentifier (*NPN_GetStringIdentifierProcPtr)(const NPUTF8* name);
typedef NPObject* (*NPN_CreateObjectProcPtr)(NPP npp, NPClass* aClass);
typedef NPObject* (*NPN_RetainObjectProcPtr)(NPObject* obj);
typedef void (*NPN_ReleaseObjectProcPtr)(NPObject* obj);
typedef void (*NPN_ReleaseVariantValueProcPtr)(NPVariant* variant);

typedef struct NPNetscapeFuncs {
    uint16_t size;
    uint16_t version;
    NPN_GenericProcPtr geturl;
    NPN_GenericProcPtr posturl;
    NPN_GenericProcPtr requestread;
    NPN_GenericProcPtr newstream;
    NPN_GenericProcPtr write;
    NPN_GenericProcPtr destroystream;
    NPN_GenericProcPtr status;
    NPN_GenericProcPtr uagent;
    NPN_MemAllocProcPtr memalloc;
    NPN_MemFreeProcPtr memfree;
    NPN_GenericProcPtr memflush;
    NPN_GenericProcPtr reloadplugins;
    NPN_GenericProcPtr getJavaEnv;
    NPN_GenericProcPtr getJavaPeer;
    NPN_GenericProcPtr geturlnotify;
    NPN_GenericProcPtr posturlnotify;
    NPN_GenericProcPtr getvalue;
    NPN_GenericProcPtr setvalue;
    NPN_GenericProcPtr invalidaterect;
    NPN_GenericProcPtr invalidateregion;
    NPN_GenericProcPtr forceredraw;
    NPN_GetStringIdentifierProcPtr getstringidentifier;
    NPN_GenericProcPtr getstringidentifiers;
    NPN_GenericProcPtr getintidentifier;
    NPN_GenericProcPtr identifierisstring;
    NPN_GenericProcPtr utf8fromidentifier;
    NPN_GenericProcPtr intfromidentifier;
    NPN_CreateObjectProcPtr createobject;
    NPN_RetainObjectProcPtr retainobject;
    NPN_ReleaseObjectProcPtr releaseobject;
    NPN_GenericProcPtr invoke;
    NPN_GenericProcPtr invokeDefault;
    NPN_GenericProcPtr evaluate;
    NPN_GenericProcPtr getproperty;
    NPN_GenericProcPtr setproperty;
    NPN_GenericProcPtr removeproperty;
    NPN_GenericProcPtr hasproperty;
    NPN_GenericProcPtr hasmethod;
    NPN_ReleaseVariantValueProcPtr releasevariantvalue;
    NPN_GenericProcPtr setexception;
} NPNetscapeFuncs;

// The plug-in library's three entry points.
typedef NPError (*NP_GetEntryPointsFunc)(NPPluginFuncs* pFuncs);
typedef NPError (*NP_InitializeFunc)(NPNetscapeFuncs* bFuncs);
typedef NPError (*NP_ShutdownFunc)(void);

#ifdef __cplusplus
#include <cstddef>
static_assert(sizeof(void*) == 8, "laid out for LP64");
static_assert(sizeof(NPPluginFuncs) == 120);
static_assert(offsetof(NPPluginFuncs, setvalue) == 112);
static_assert(sizeof(NPNetscapeFuncs) == 328);
static_assert(offsetof(NPNetscapeFuncs, setexception) == 320);
static_assert(sizeof(NPObject) == 16);
static_assert(sizeof(NPVariant) == 24);
static_assert(sizeof(NPWindow) == 40);
#endif
