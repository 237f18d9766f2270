// Materials and textures: reduces a host material, seen through a texture tag, to one
// MaterialRecord, and writes a record as at most two shaders and one material. Used by the mesh
// pieces and the hair curves after each geometry, inside the scene object they are writing.
#pragma once

#include <string>

#include "plugins/c4d/PluginContext.h"
#include "plugins/c4d/convert/MaterialRecord.h"
#include "plugins/c4d/host/BaseMaterial.h"
#include "plugins/c4d/host/BaseObject.h"
#include "plugins/c4d/host/BaseShader.h"
#include "plugins/c4d/host/BaseTag.h"
#include "plugins/c4d/host/Values.h"

namespace raydeck::c4d {

// The object's display colour: 0.65 grey, parameter 908 in mode 1 (parameter 907), the layer's
// colour (parameter 1009) in mode 3. The layer is looked up in context.document.
host::Vector objectDisplayColor(const PluginContext& context, const host::BaseObject& object);

// Fills `record` from a texture tag (5616): material name, the standard material's colours and
// texture, and the tag's mapping. False when no piece may be written for the tag (no material,
// no material name, not a standard material, nothing readable in it).
bool readTextureTag(const PluginContext& context, const host::BaseTag& tag, MaterialRecord& record);

// Colour, luminance, specular and the shader list of a standard material (5703). True when a
// colour could be read.
bool readStandardMaterial(const PluginContext& context, const host::BaseMaterial& material,
                          MaterialRecord& record);

// One shader: a colour shader sets the diffuse colour (the only case answering true), a bitmap
// shader the texture file, gradient shaders the diffuse colour of their first knot.
bool readShader(const PluginContext& context, const host::BaseShader& shader,
                MaterialRecord& record);

// The texture file sent to the renderer for a bitmap path: `fullPath` when it opens, else
// `documentFolder`\tex\`fileName`, else `documentFolder`\`fileName`, else `fullPath` unchanged.
std::string findTextureFile(const std::string& documentFolder, const std::string& fullPath,
                            const std::string& fileName);

// Whether a file opens for reading through the platform's wide-character open (UTF-8 path,
// `\` accepted as separator, no length limit).
bool textureFileOpens(const std::string& utf8Path);

// The scene name of a record: registers it in context.materialNames under its base name (the
// record's name, "Display color" when empty) and answers the base name for the first distinct
// record, "<base> #<ordinal>" for later ones.
std::string materialName(PluginContext& context, const MaterialRecord& record);

// T of a texture matrix: its affine inverse (identity when the determinant is exactly 0), all
// twelve numbers halved, as 16 doubles x axis, 0, y axis, 0, z axis, 0, offset, 1.
void textureTransform(const host::Matrix& m, double out[16]);

// Writes the texture shader (when the record has a texture file), the material shader and the
// material through context.builder's back end. Does nothing without a back end.
void emitMaterial(PluginContext& context, const MaterialRecord& record);

}  // namespace raydeck::c4d
