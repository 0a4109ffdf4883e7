#pragma once

#include "show_cues.h"

#include <glm/mat4x4.hpp>

#include <array>
#include <cstddef>

// Everything in the show that moves, as a pure function of the show time t (float seconds):
// no state carries from one frame to the next and nothing here touches GL.

// The model instances the choreography places: 1 the hub, 2 the ring node (parent of the ring),
// 3 + j ring polytope j.
constexpr std::size_t hubInstance = 1;
constexpr std::size_t ringNodeInstance = 2;
constexpr std::size_t firstRingInstance = 3;
constexpr std::size_t ringSize = 7;
constexpr std::size_t movedInstanceCount = 2 + ringSize;

// The last segment shown; a t whose segment lies beyond it ends the show without a frame.
constexpr unsigned lastSegment = ShowCues::segmentCount - 1;

struct Choreography {
    // Own transforms of instances hubInstance, ringNodeInstance, then the ring polytopes 0 to 6:
    // element i belongs to instance hubInstance + i.
    std::array<glm::mat4, movedInstanceCount> instanceTransforms;
    unsigned segment; // ⌊t / 2.4⌋
    bool over;        // segment > lastSegment: leave the loop without drawing
    unsigned shot;    // 1 to 10 while the show runs, 0 once it is over
    glm::mat4 camera; // view matrix of the current shot; identity once over
    float exposure;   // 1, fading in the last shot; 1 once over
};

// The state of the show at t. Allocation-free; the driver calls it once per frame.
Choreography choreograph(float t);

// ⌊t / 2.4⌋ in single precision. Times before 0 count as segment 0; the result saturates
// instead of overflowing.
unsigned segmentAt(float t);

// The ring's turn about +y at t, in radians (the ring node is rotated by its negation):
// 0 until 67.2 s, then one seventh of a turn per 2.4 s segment, each step easing in,
// overshooting a little and settling exactly on the next seventh.
float ringAngle(float t);

// Where ring polytope j stands relative to the ring node at start-up: (20 sin θj, 0, 20 cos θj)
// with θj = j·2π/7, polytope 0 on the +z axis.
glm::mat4 ringPlacement(std::size_t j);
