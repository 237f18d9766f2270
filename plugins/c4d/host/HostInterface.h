// The host interface table: every operation the plug-in asks of the host, as a plain C table of
// function pointers over opaque handles. The host hands it over with the start-up message of
// c4d_main; the simulator tools/host implements it over a document file, and an adapter to the
// real host SDK is a thin mapping onto the same operations.
//
// Conventions for every operation below:
// - int32_t results named "ok" are 1 for success and 0 for failure; outputs are left untouched on
//   failure unless stated otherwise.
// - Handles are borrowed from the host unless an operation says "caller frees".
// - Text crosses the table as NUL-terminated UTF-8 or as a host string handle.
// - A null handle argument makes an operation fail (or answer none/0); it never crashes.
// - Operations are only ever added at the end of the table; structSize tells how far a given
//   host's table reaches.
#ifndef RAYDECK_PLUGINS_C4D_HOST_HOSTINTERFACE_H
#define RAYDECK_PLUGINS_C4D_HOST_HOSTINTERFACE_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// API version the plug-in is written against; hosts below it are refused at start-up.
#define RD_HOST_API_VERSION 16000
// Plug-in kind passed with a command registration.
#define RD_HOST_PLUGIN_KIND_COMMAND 4

// c4d_main messages.
#define RD_HOST_MSG_START 1
#define RD_HOST_MSG_INIT 2
#define RD_HOST_MSG_END 3
#define RD_HOST_MSG_VERSION 4
#define RD_HOST_MSG_PLUGIN_MESSAGE 6

// Host string encoding for UTF-8.
#define RD_HOST_ENCODING_UTF8 4

// Bitmap load results; anything but RD_HOST_IMAGE_OK is a failure.
#define RD_HOST_IMAGE_OK 1
#define RD_HOST_IMAGE_NOT_EXISTING -1
#define RD_HOST_IMAGE_WRONG_TYPE -2
// Bitmap setting that the plug-in sets to 1.0 on its icons.
#define RD_HOST_BITMAP_SETTING_ICON_SCALE 100

// File dialog: selection type 0 (any file), mode 1 (save).
#define RD_HOST_FILESELECT_ANY 0
#define RD_HOST_FILESELECT_SAVE 1

// Document parameters.
#define RD_HOST_DOC_TIME 1000
#define RD_HOST_DOC_MINTIME 1002
#define RD_HOST_DOC_PATH 1012
#define RD_HOST_DOC_FILENAME 1013

// Object data kinds and bits.
#define RD_HOST_DATA_POINTS 5600
#define RD_HOST_DATA_POLYGONS 5604
#define RD_HOST_BIT_GENERATOR_INPUT 9

// Host libraries that may be missing.
#define RD_HOST_LIBRARY_GRADIENT 1000480
#define RD_HOST_LIBRARY_HAIR 1018173
// Custom data type of gradients.
#define RD_HOST_CUSTOMDATA_GRADIENT 1000481

// Frame rate the plug-in samples tracks with.
#define RD_HOST_TRACK_FPS 30

// Opaque handles. RdHostNode stands for every list node: objects, tags, materials, shaders,
// layers and animation tracks; the node type number tells them apart.
typedef struct RdHostDocument RdHostDocument;
typedef struct RdHostNode RdHostNode;
typedef struct RdHostString RdHostString;
typedef struct RdHostFilename RdHostFilename;
typedef struct RdHostBitmap RdHostBitmap;
typedef struct RdHostAtomArray RdHostAtomArray;
typedef struct RdHostCurve RdHostCurve;
typedef struct RdHostKey RdHostKey;
typedef struct RdHostGradient RdHostGradient;
typedef struct RdHostUVWData RdHostUVWData;
typedef struct RdHostSelection RdHostSelection;
typedef struct RdHostHairGuides RdHostHairGuides;

typedef struct RdHostVector {
    double x, y, z;
} RdHostVector;

// Affine placement: a point p maps to off + p.x * v1 + p.y * v2 + p.z * v3.
typedef struct RdHostMatrix {
    RdHostVector off, v1, v2, v3;
} RdHostMatrix;

// A host time: num / den seconds; its value is 0 when den is 0.
typedef struct RdHostTime {
    double num, den;
} RdHostTime;

// Point indices of one polygon; c == d marks a triangle.
typedef struct RdHostPolygon {
    int32_t a, b, c, d;
} RdHostPolygon;

// UVW coordinates of the four corners of one polygon.
typedef struct RdHostUVWPolygon {
    RdHostVector a, b, c, d;
} RdHostUVWPolygon;

typedef struct RdHostInterface {
    // Must be the first field: the plug-in refuses hosts below RD_HOST_API_VERSION.
    int32_t apiVersion;
    // sizeof(RdHostInterface) as the host was built; operations beyond it are absent.
    uint32_t structSize;

    // --- memory -------------------------------------------------------------------------------
    // Zero-filled block of size bytes, or null. Blocks from here may be freed by the host itself.
    void* (*memAlloc)(size_t size);
    // Frees a block from memAlloc (or handed out by an operation that says so); null is ignored.
    void (*memFree)(void* block);

    // --- console ------------------------------------------------------------------------------
    // Prints one line (UTF-8, no line break needed) on the host's console.
    void (*consolePrint)(const char* line);

    // --- registration -------------------------------------------------------------------------
    // Registers a command. apiVersion RD_HOST_API_VERSION, kind RD_HOST_PLUGIN_KIND_COMMAND;
    // commandData is a raydeck::host::CommandData* allocated with memAlloc. On success the host
    // owns commandData (it runs the destructor and frees it at shutdown) and the icon bitmap (may
    // be null); on failure both stay the caller's. Answers ok.
    int32_t (*registerCommand)(int32_t apiVersion, int32_t pluginKind, int32_t pluginId,
                               const RdHostString* name, int32_t info, RdHostBitmap* icon,
                               const RdHostString* help, void* commandData);

    // --- strings ------------------------------------------------------------------------------
    // New empty host string, caller frees with stringFree.
    RdHostString* (*stringAlloc)(void);
    void (*stringFree)(RdHostString* s);
    // Sets the text from len bytes in the given encoding (RD_HOST_ENCODING_UTF8). Answers ok.
    int32_t (*stringSetCString)(RdHostString* s, const char* text, int32_t len, int32_t encoding);
    // NUL-terminated copy in the given encoding, caller frees with memFree (an empty text gives an
    // empty copy); null when the text cannot be converted.
    char* (*stringGetCString)(const RdHostString* s, int32_t encoding);
    // Copies src into dst. Answers ok.
    int32_t (*stringCopy)(RdHostString* dst, const RdHostString* src);

    // --- file names ---------------------------------------------------------------------------
    // New empty file name, caller frees with filenameFree.
    RdHostFilename* (*filenameAlloc)(void);
    void (*filenameFree)(RdHostFilename* f);
    int32_t (*filenameCopy)(RdHostFilename* dst, const RdHostFilename* src);
    // Whole text of the file name; answers ok.
    int32_t (*filenameSetString)(RdHostFilename* f, const RdHostString* text);
    int32_t (*filenameGetString)(const RdHostFilename* f, RdHostString* out);
    // Replace the directory part / the last component / the suffix (without the dot).
    int32_t (*filenameSetDirectory)(RdHostFilename* f, const RdHostString* directory);
    int32_t (*filenameSetFile)(RdHostFilename* f, const RdHostString* file);
    int32_t (*filenameSetSuffix)(RdHostFilename* f, const RdHostString* suffix);
    // 1 when the file name holds no text.
    int32_t (*filenameIsEmpty)(const RdHostFilename* f);
    // The last component / everything before it, into out. Answers ok.
    int32_t (*filenameGetFile)(const RdHostFilename* f, RdHostFilename* out);
    int32_t (*filenameGetDirectory)(const RdHostFilename* f, RdHostFilename* out);
    // Appends one path component with the host's separator. Answers ok.
    int32_t (*filenameAppend)(RdHostFilename* f, const RdHostString* component);
    // Save/open dialog on f (initial name in, chosen name out); title and forcedSuffix may be
    // null. Answers 1 when a file was chosen, 0 when cancelled.
    int32_t (*fileSelect)(RdHostFilename* f, int32_t type, int32_t mode, const RdHostString* title,
                          const RdHostString* forcedSuffix);

    // --- bitmaps ------------------------------------------------------------------------------
    // New empty bitmap, caller frees with bitmapFree (unless handed to registerCommand).
    RdHostBitmap* (*bitmapAlloc)(void);
    void (*bitmapFree)(RdHostBitmap* b);
    // Loads an image file; answers RD_HOST_IMAGE_OK or a negative RD_HOST_IMAGE_* code.
    int32_t (*bitmapInit)(RdHostBitmap* b, const RdHostFilename* file);
    int32_t (*bitmapSetSetting)(RdHostBitmap* b, int32_t id, double value);

    // --- host libraries -----------------------------------------------------------------------
    // 1 when the host library with that id (RD_HOST_LIBRARY_*) is present.
    int32_t (*libraryAvailable)(int32_t libraryId);

    // --- documents ----------------------------------------------------------------------------
    // Time parameters RD_HOST_DOC_TIME / RD_HOST_DOC_MINTIME. Answers ok.
    int32_t (*documentGetTime)(const RdHostDocument* doc, int32_t id, RdHostTime* out);
    // Writes RD_HOST_DOC_TIME (the only writable parameter). Answers ok.
    int32_t (*documentSetTime)(RdHostDocument* doc, int32_t id, const RdHostTime* value);
    // File name parameters RD_HOST_DOC_PATH / RD_HOST_DOC_FILENAME into out. Answers ok.
    int32_t (*documentGetFilename)(const RdHostDocument* doc, int32_t id, RdHostFilename* out);
    // Brings objects, caches and deformations up to the document's time. threaded 0 means on
    // the caller's thread; animation/expressions/caches switch those passes. Answers ok.
    int32_t (*documentExecutePasses)(RdHostDocument* doc, int32_t threaded, int32_t animation,
                                     int32_t expressions, int32_t caches, int32_t flags);
    // First top-level object, or null.
    RdHostNode* (*documentGetFirstObject)(const RdHostDocument* doc);

    // --- selection ----------------------------------------------------------------------------
    // New empty atom array, caller frees with atomArrayFree.
    RdHostAtomArray* (*atomArrayAlloc)(void);
    void (*atomArrayFree)(RdHostAtomArray* a);
    // Replaces the array's entries with the document's selection (objects and tags), in
    // document order. flags 0. Answers ok.
    int32_t (*documentGetSelection)(const RdHostDocument* doc, RdHostAtomArray* out, int32_t flags);
    int32_t (*atomArrayCount)(const RdHostAtomArray* a);
    // Entry i, or null when i is out of range.
    RdHostNode* (*atomArrayGet)(const RdHostAtomArray* a, int32_t i);

    // --- every node ---------------------------------------------------------------------------
    // Type number (object, tag, material, shader, layer or track type); 0 for null.
    int32_t (*nodeGetType)(const RdHostNode* n);
    // The node's name into out. Answers ok.
    int32_t (*nodeGetName)(const RdHostNode* n, RdHostString* out);
    // Reads a one-level parameter. Each answers ok: the parameter exists and holds a value of a
    // kind the read accepts. Numbers read as int (truncated toward zero) and as float.
    int32_t (*nodeGetInt)(const RdHostNode* n, int32_t id, int32_t* out);
    int32_t (*nodeGetFloat)(const RdHostNode* n, int32_t id, double* out);
    int32_t (*nodeGetVector)(const RdHostNode* n, int32_t id, RdHostVector* out);
    int32_t (*nodeGetString)(const RdHostNode* n, int32_t id, RdHostString* out);
    int32_t (*nodeGetFilename)(const RdHostNode* n, int32_t id, RdHostFilename* out);
    // A link parameter resolved in doc; *out is null and the answer 0 when it resolves to
    // nothing.
    int32_t (*nodeGetLink)(const RdHostNode* n, int32_t id, const RdHostDocument* doc,
                           RdHostNode** out);
    // Gradient custom data (RD_HOST_CUSTOMDATA_GRADIENT); *out is borrowed from the node.
    // Answers ok when the parameter holds a gradient.
    int32_t (*nodeGetGradient)(const RdHostNode* n, int32_t id, const RdHostGradient** out);
    // Colour of knot i. Answers 0 when the gradient library is missing or the knot does not
    // exist (callers then use white).
    int32_t (*gradientGetKnotColor)(const RdHostGradient* g, int32_t knot, RdHostVector* out);

    // --- objects ------------------------------------------------------------------------------
    RdHostNode* (*objectGetNext)(const RdHostNode* obj);
    RdHostNode* (*objectGetDown)(const RdHostNode* obj);
    // 1 when bit number bit (RD_HOST_BIT_GENERATOR_INPUT) of the object's bit field is set.
    int32_t (*objectGetBit)(const RdHostNode* obj, int32_t bit);
    // Local matrix relative to the parent (for cache objects: to the object that built them).
    int32_t (*objectGetMatrix)(const RdHostNode* obj, RdHostMatrix* out);
    int32_t (*objectGetPosition)(const RdHostNode* obj, RdHostVector* out);
    // Rotation angles in radians.
    int32_t (*objectGetRotation)(const RdHostNode* obj, RdHostVector* out);
    int32_t (*objectGetScale)(const RdHostNode* obj, RdHostVector* out);
    // Rotation order 0 to 6; 0 for null.
    int32_t (*objectGetRotationOrder)(const RdHostNode* obj);
    // Identifier, the same in the selection and in the walk; 0 for null.
    uint64_t (*objectGetGuid)(const RdHostNode* obj);
    // Geometry the host built for the object, or null.
    RdHostNode* (*objectGetDeformCache)(const RdHostNode* obj);
    RdHostNode* (*objectGetCache)(const RdHostNode* obj);
    RdHostNode* (*objectGetFirstTag)(const RdHostNode* obj);
    // The object's layer as seen from doc, or null.
    RdHostNode* (*objectGetLayer)(const RdHostNode* obj, const RdHostDocument* doc);
    RdHostNode* (*objectGetFirstTrack)(const RdHostNode* obj);

    // --- polygon objects ----------------------------------------------------------------------
    // Read-only arrays owned by the object; *count gets the element count (0 and null when the
    // object has none).
    const RdHostVector* (*polygonGetPoints)(const RdHostNode* obj, int32_t* count);
    const RdHostPolygon* (*polygonGetPolygons)(const RdHostNode* obj, int32_t* count);
    // Phong normals, 12 floats per polygon (corners a, b, c, d); caller frees with memFree.
    // Null when the object has no phong tag. *polygonCount gets the polygon count.
    float* (*polygonCreatePhongNormals)(const RdHostNode* obj, int32_t* polygonCount);

    // --- tags ---------------------------------------------------------------------------------
    RdHostNode* (*tagGetNext)(const RdHostNode* tag);
    // UVW tag data block (borrowed) and its record count.
    const RdHostUVWData* (*uvwTagGetData)(const RdHostNode* tag, int32_t* count);
    // UVW record of polygon i; answers 0 (and zeros in *out) when i is out of range.
    int32_t (*uvwGetPolygon)(const RdHostUVWData* data, int32_t i, RdHostUVWPolygon* out);
    // Polygon selection tag: its selection (borrowed), segment count, inclusive range of
    // segment i clamped to maxElements elements. The range answers ok.
    const RdHostSelection* (*selectionTagGetSelection)(const RdHostNode* tag);
    int32_t (*selectionGetSegmentCount)(const RdHostSelection* s);
    int32_t (*selectionGetRange)(const RdHostSelection* s, int32_t segment, int32_t maxElements,
                                 int32_t* first, int32_t* last);
    // Texture tag: its material (null when it has none) and texture matrix.
    RdHostNode* (*textureTagGetMaterial)(const RdHostNode* tag);
    int32_t (*textureTagGetMatrix)(const RdHostNode* tag, RdHostMatrix* out);

    // --- materials and shaders ----------------------------------------------------------------
    // 1 when material channel number channel is enabled.
    int32_t (*materialGetChannelState)(const RdHostNode* mat, int32_t channel);
    // Data container entry id as a vector; def (may be null: zero) when absent or not a vector.
    int32_t (*materialGetContainerVector)(const RdHostNode* mat, int32_t id,
                                          const RdHostVector* def, RdHostVector* out);
    RdHostNode* (*materialGetFirstShader)(const RdHostNode* mat);
    RdHostNode* (*shaderGetNext)(const RdHostNode* shader);

    // --- animation ----------------------------------------------------------------------------
    RdHostNode* (*trackGetNext)(const RdHostNode* track);
    // The animated parameter's id: up to maxDepth levels into ids; answers the depth (0: none).
    int32_t (*trackGetDescId)(const RdHostNode* track, int32_t* ids, int32_t maxDepth);
    // The track's curve, or null.
    RdHostCurve* (*trackGetCurve)(const RdHostNode* track);
    int32_t (*curveGetKeyCount)(const RdHostCurve* curve);
    // Key i, or null when out of range.
    RdHostKey* (*curveGetKey)(const RdHostCurve* curve, int32_t i);
    int32_t (*keyGetTime)(const RdHostKey* key, RdHostTime* out);
    // The track's value at time (frame rate fps) for doc; 0 when it has no keys.
    double (*trackGetValue)(const RdHostNode* track, const RdHostDocument* doc,
                            const RdHostTime* time, int32_t fps);

    // --- hair (library RD_HOST_LIBRARY_HAIR; each answers 0/none when it is missing) ----------
    int32_t (*hairBeginAccess)(RdHostNode* hairObject, RdHostDocument* doc, int32_t a, int32_t b,
                               int32_t c);
    void (*hairEndAccess)(RdHostNode* hairObject);
    // Generates the object's guides; caller frees with hairGuidesFree. Null when there are none.
    RdHostHairGuides* (*hairGenerateGuides)(RdHostNode* hairObject);
    void (*hairGuidesFree)(RdHostHairGuides* g);
    int32_t (*hairGuidesGetSegmentCount)(const RdHostHairGuides* g);
    int32_t (*hairGuidesGetCount)(const RdHostHairGuides* g);
    // Points guide after guide, (segment count + 1) per guide; *count gets the point count.
    const RdHostVector* (*hairGuidesGetPoints)(const RdHostHairGuides* g, int32_t* count);
    // Root UVW of guide i; answers ok.
    int32_t (*hairGuidesGetRootUV)(const RdHostHairGuides* g, int32_t i, RdHostVector* out);

    // --- added later: hosts whose structSize ends before an operation do not have it ----------
    // The object's matrix in the document's space: its ancestors' local matrices and its own,
    // outermost first (for cache objects: through the object that built them). Answers ok.
    int32_t (*objectGetGlobalMatrix)(const RdHostNode* obj, RdHostMatrix* out);

    // Polygon objects:
    // The phong normals the object stores, laid out as polygonCreatePhongNormals hands them out:
    // read-only, owned by the object and valid until the document changes (the caller never
    // frees them). *polygonCount gets their polygon count. Null when the object stores none
    // (no phong tag, or normals the host would compute): then polygonCreatePhongNormals is the
    // way to them.
    const float* (*polygonGetPhongNormals)(const RdHostNode* obj, int32_t* polygonCount);

    // The host's status bar: shows `text` (UTF-8; null shows none) beside a progress bar at
    // `percent` (0 to 100); a negative percent clears both. The host copies the text.
    void (*statusSetProgress)(const char* text, int32_t percent);
} RdHostInterface;

#ifdef __cplusplus
}
#endif

#endif
