#version 330 core
// Interaction outlines in widget pixels.
layout(location = 0) in vec2 position;
uniform vec2 viewportSize;
void main()
{
    gl_Position = vec4(position.x / viewportSize.x * 2.0 - 1.0, 1.0 - position.y / viewportSize.y * 2.0, 0.0, 1.0);
}
