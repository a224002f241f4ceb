#version 440
// A soft glow whose clouds drift: warped value noise over a radial falloff, violet in the
// thin parts, cyan where the cloud is dense and ice at the heart.
layout(location = 0) in vec2 qt_TexCoord0;
layout(location = 0) out vec4 fragColor;

layout(std140, binding = 0) uniform buf {
    mat4 qt_Matrix;
    float qt_Opacity;
    float time;
    vec4 cyan;
    vec4 ice;
    vec4 violet;
};

float hash(vec2 p)
{
    return fract(sin(dot(p, vec2(127.1, 311.7))) * 43758.5453);
}

float noise(vec2 p)
{
    vec2 i = floor(p);
    vec2 f = fract(p);
    vec2 u = f * f * (3.0 - 2.0 * f);
    return mix(mix(hash(i), hash(i + vec2(1.0, 0.0)), u.x), mix(hash(i + vec2(0.0, 1.0)), hash(i + vec2(1.0, 1.0)), u.x),
               u.y);
}

float clouds(vec2 p)
{
    float value = 0.0;
    float amplitude = 0.5;
    for (int octave = 0; octave < 4; ++octave) {
        value += amplitude * noise(p);
        p = p * 2.03 + vec2(1.7, 9.2);
        amplitude *= 0.5;
    }
    return value;
}

void main()
{
    vec2 p = qt_TexCoord0 * 2.0 - 1.0;
    float r = length(p);
    // Slow enough that the glow breathes rather than boils.
    float t = time * 0.15;
    vec2 warp = vec2(clouds(p * 1.6 + vec2(t, -t)), clouds(p * 1.6 + vec2(-0.7 * t, 1.3 * t) + 4.0));
    float density = clouds(p * 2.2 + warp * 1.8 + vec2(0.0, t));
    float heart = exp(-r * r * 9.0);
    // Nothing at the edge, so the square the shader draws on never shows.
    float falloff = 1.0 - smoothstep(0.2, 1.0, r);
    vec3 colour = mix(violet.rgb, cyan.rgb, smoothstep(0.35, 0.7, density));
    colour = mix(colour, ice.rgb, heart * 0.8);
    float alpha = clamp((0.3 + 0.9 * density) * falloff + heart, 0.0, 1.0) * falloff;
    fragColor = vec4(colour * alpha, alpha) * qt_Opacity;
}
