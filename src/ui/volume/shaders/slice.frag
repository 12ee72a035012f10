#version 330 core
// One plane of the volume at SliceZ01, windowed.
uniform sampler3D volumeTexture;
uniform vec2 viewportSize;
uniform float sliceZ01;
uniform float windowCenter;
uniform float windowWidth;
out vec4 fragColor;

void main()
{
    vec2 uv = gl_FragCoord.xy / viewportSize;
    float value = texture(volumeTexture, vec3(uv.x, 1.0 - uv.y, sliceZ01)).r;
    float grey = clamp((value - (windowCenter - windowWidth * 0.5)) / max(windowWidth, 1e-6), 0.0, 1.0);
    fragColor = vec4(grey, grey, grey, 1.0);
}
