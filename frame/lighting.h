// The moving light, material and light model that every frame sets from the
// animation step.
#pragma once

#include <cstdint>

namespace frame {

struct lighting_values {
    float light_vector[4];
    float ambient_colour[4];
    float diffuse_colour[4];
    float emission_colour[4];
    float shininess;
    float constant_attenuation;
    float linear_attenuation;
    float quadratic_attenuation;
};

// The values for step t, taken as radians.
lighting_values frame_lighting_values(std::int64_t t);

// Sets them for frame_tick; two_sided adds two-sided lighting.
void apply_frame_lighting(bool two_sided);

}  // namespace frame
