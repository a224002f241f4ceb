#version 440
// The eye's glitch: the picture cut into horizontal slices that jump sideways, with the
// red and blue channels pulled apart. `strength` fades the whole effect; `seed` changes a
// few times per second, so the slices jump instead of sliding.
layout(location = 0) in vec2 qt_TexCoord0;
layout(location = 0) out vec4 fragColor;

layout(std140, binding = 0) uniform buf {
    mat4 qt_Matrix;
    float qt_Opacity;
    float strength;
    float seed;
};
layout(binding = 1) uniform sampler2D source;

float hash(vec2 p)
{
    return fract(sin(dot(p, vec2(127.1, 311.7))) * 43758.5453);
}

void main()
{
    const float slices = 13.0;
    float band = floor(qt_TexCoord0.y * slices);
    // About half of the slices move in any one frame; the rest hold still.
    float moves = step(0.45, hash(vec2(band * 1.7, seed + 3.1)));
    float shift = (hash(vec2(band, seed)) - 0.5) * 0.32 * strength * moves;
    vec2 at = vec2(qt_TexCoord0.x + shift, qt_TexCoord0.y);
    float split = 0.05 * strength;
    vec4 red = texture(source, at + vec2(split, 0.0));
    vec4 green = texture(source, at);
    vec4 blue = texture(source, at - vec2(split, 0.0));
    // Premultiplied: each channel stays within the alpha of the sample it came from.
    float alpha = max(max(red.a, green.a), blue.a);
    fragColor = vec4(red.r, green.g, blue.b, alpha) * qt_Opacity;
}
