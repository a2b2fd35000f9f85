// Shared set-up for the collision tests: the stand-in host in game-flow
// state 4 with a standalone recording device (no window, so loading-screen
// frames are presented without an overlay) that notes presented frames and
// draws, and a clean collision state before and after each test. The Bullet world itself lives for the process; the bodies a test
// adds are taken out again.
#pragma once

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "collision/barriers.h"
#include "collision/collision_world.h"
#include "config/map_definition.h"
#include "config/options.h"
#include "frame_noting_device.h"
#include "game/host_environment.h"
#include "map/map_loading.h"
#include "overlay/overlay_queues.h"
#include "renderer/model.h"
#include "renderer/render_group.h"

// Notes the overlay texts of each presented frame and, at each indexed
// draw, what the draw used: the bytes of the bound vertex and index
// buffers, the world transform and the fill and depth states.
class CollisionRecorder : public FrameNotingDevice {
public:
    struct Draw {
        std::vector<unsigned char> vertices, indices;
        D3DMATRIX world;
        DWORD fillMode, depthTest, depthWrite;
        IDirect3DBaseTexture9* texture;
    };
    std::vector<Draw> draws;
    bool throwAtDraw = false;  // an indexed draw throws instead, as a failing driver call might

    HRESULT STDMETHODCALLTYPE DrawIndexedPrimitive(D3DPRIMITIVETYPE type, INT base, UINT minIndex, UINT count,
                                                   UINT start, UINT primitives) override
    {
        if (throwAtDraw) throw std::runtime_error("draw failed");
        Draw draw{};
        IDirect3DVertexBuffer9* vertexBuffer = nullptr;
        UINT offset = 0, stride = 0;
        if (SUCCEEDED(GetStreamSource(0, &vertexBuffer, &offset, &stride)) && vertexBuffer) {
            if (auto* bytes = Host::RecordedBufferBytes(vertexBuffer)) draw.vertices = *bytes;
            vertexBuffer->Release();
        }
        IDirect3DIndexBuffer9* indexBuffer = nullptr;
        if (SUCCEEDED(GetIndices(&indexBuffer)) && indexBuffer) {
            if (auto* bytes = Host::RecordedBufferBytes(indexBuffer)) draw.indices = *bytes;
            indexBuffer->Release();
        }
        GetTransform(D3DTS_WORLD, &draw.world);
        GetRenderState(D3DRS_FILLMODE, &draw.fillMode);
        GetRenderState(D3DRS_ZENABLE, &draw.depthTest);
        GetRenderState(D3DRS_ZWRITEENABLE, &draw.depthWrite);
        if (SUCCEEDED(GetTexture(0, &draw.texture)) && draw.texture) draw.texture->Release();
        draws.push_back(std::move(draw));
        return RecordingDevice::DrawIndexedPrimitive(type, base, minIndex, count, start, primitives);
    }
};

class CollisionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Config::Options = Config::OptionsRecord{};
        Config::MapCollisions.clear();
        RenderGroups.clear();
        SetMapTransform();
        Host::HostEnvironment& host = Host::HostEnvironment::Instance();
        host.SetDevice(&device_);
        host.SetWindow(nullptr);
        host.SetGameFlowState(4);
        host.SetAttributeDatabasePresent(true);
        ResetCollisionState();
        bodiesBefore_ = World() ? World()->getNumCollisionObjects() : 0;
    }
    void TearDown() override
    {
        RemoveAddedBodies();
        ResetCollisionState();
        Config::MapCollisions.clear();
        RenderGroups.clear();
        Host::HostEnvironment::Instance().SetDevice(nullptr);
    }

    void RemoveAddedBodies()
    {
        if (btDiscreteDynamicsWorld* world = World()) {
            // Newest first: Bullet fills a removed slot with the last object.
            for (int i = world->getNumCollisionObjects() - 1; i >= bodiesBefore_; --i) {
                btRigidBody* body = btRigidBody::upcast(world->getCollisionObjectArray()[i]);
                world->removeRigidBody(body);
                delete body->getMotionState();
                delete body;
            }
        }
    }

    static void ResetCollisionState()
    {
        for (TarnRenderer::CModel* model : BulletCol::CollisionModels) TarnRenderer::ReleaseReference(model);
        BulletCol::CollisionModels.clear();
        BulletCol::CollisionMeshRecords.clear();  // their shapes stay, as the bodies' do in the plug-in
        BulletCol::CollisionFilesLoaded = false;
        BulletCol::BarrierPassModelsDone = 0;
        CapturedHostObject = nullptr;
    }

    static btDiscreteDynamicsWorld* World() { return BulletCol::CollisionWorld.world; }
    int BodiesAdded() const { return World() ? World()->getNumCollisionObjects() - bodiesBefore_ : 0; }
    BulletCol::CustomRigidBody_WithMaterial* Body(int added) const
    {
        return static_cast<BulletCol::CustomRigidBody_WithMaterial*>(
            World()->getCollisionObjectArray()[bodiesBefore_ + added]);
    }

    CollisionRecorder device_;
    int bodiesBefore_ = 0;
};
