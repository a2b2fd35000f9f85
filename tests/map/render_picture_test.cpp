// The render pass on a real device (Wine, Xvfb): the map appears where the
// camera and the map offset put it and not when the camera looks away, and
// the host gets its own device state back after the pass.
#include <gtest/gtest.h>

#include <d3dx9math.h>

#include "asset_writer.h"
#include "config/options.h"
#include "game/host_environment.h"
#include "map/render_pass.h"
#include "real_device_fixture.h"
#include "renderer/model.h"
#include "renderer/render_counters.h"
#include "renderer/render_group.h"
#include "test_files.h"

namespace {

class RenderPictureTest : public RealDeviceTest {
protected:
    void SetUp() override
    {
        RealDeviceTest::SetUp();
        Config::Options = Config::OptionsRecord{};
        Config::Options.MapOffset[0] = 5;
        Config::Options.MapOffset[1] = 3;
        Config::UseHostShaders = false;
        Host::HostEnvironment::Instance().SetGameFlowState(6);
        RenderGroups.clear();

        // A red box at file position (20, 0, 0): map space (20, 0, 0),
        // drawn at (25, -3, 0) with the offset (5, 3, 0).
        TestSupport::WriteBmp(dir_.File("red.bmp"), 8, 8, 255, 0, 0);
        const float center[3] = {20, 0, 0}, size[3] = {4, 4, 4};
        TestSupport::WriteObj(dir_.File("box.obj"), {TestSupport::MakeBox("box", center, size, "red.bmp")});
        model_ = TarnRenderer::AcquireModel({dir_.File("box.obj")});
        auto* group = new RenderGroup;
        group->members.push_back(new GroupMember{model_, dir_.File("box.obj"), "", 2});
        group->settings.Transform.m[3][0] = 5;
        group->settings.Transform.m[3][1] = -3;
        RenderGroups.push_back(group);
    }
    void TearDown() override
    {
        for (RenderGroup* group : RenderGroups) {
            for (GroupMember* member : group->members) delete member;
            delete group;
        }
        RenderGroups.clear();
        TarnRenderer::ReleaseReference(model_);
        Config::UseHostShaders = true;
    }

    // Camera at world (0, -3, 0) looking along `direction`, Z up.
    void LookAlong(float dx, float dy)
    {
        D3DXVECTOR3 eye(0, -3, 0), at(dx, -3 + dy, 0), up(0, 0, 1);
        D3DXMATRIX view, projection;
        D3DXMatrixLookAtLH(&view, &eye, &at, &up);
        D3DXMatrixPerspectiveFovLH(&projection, D3DX_PI / 3, 640.0f / 480.0f, 0.5f, 1000.0f);
        Host::HostEnvironment& host = Host::HostEnvironment::Instance();
        host.SetCameraRecord(&view._11, &projection._11);
        host.SetViewMatrix(&view._11);
        const float position[3] = {0, -3, 0};
        host.SetCameraPosition(position);
    }

    // Renders one frame and counts clearly red pixels in the centre ninth
    // and in the whole picture.
    std::pair<int, int> RedPixels()
    {
        IDirect3DDevice9* device = device_->Device();
        device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
        device->BeginScene();
        RenderMap();
        device->EndScene();
        std::vector<unsigned char> rgb;
        int width = 0, height = 0;
        EXPECT_TRUE(device_->ReadBackBuffer(rgb, width, height)) << device_->Error();
        int centre = 0, total = 0;
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                const unsigned char* p = &rgb[(std::size_t(y) * width + x) * 3];
                if (p[0] > 200 && p[1] < 60 && p[2] < 60) {
                    ++total;
                    if (x > width / 3 && x < 2 * width / 3 && y > height / 3 && y < 2 * height / 3) ++centre;
                }
            }
        }
        return {centre, total};
    }

    TestSupport::TempDirectory dir_;
    TarnRenderer::CModel* model_ = nullptr;
};

TEST_F(RenderPictureTest, TheModelAppearsWhereCameraAndOffsetPutIt)
{
    LookAlong(1, 0);
    auto [centre, total] = RedPixels();
    EXPECT_GT(centre, 500) << "the box should fill the middle of the picture";
    EXPECT_EQ(ModelsDrawn, 1);

    LookAlong(-1, 0);
    auto away = RedPixels();
    EXPECT_EQ(away.second, 0);
    EXPECT_EQ(ModelsDrawn, 0);  // behind the camera: culled, not drawn

    LookAlong(0.2f, 1);  // off to the side but ahead: drawn, outside the picture
    Config::Options.SmartCulling = false;
    auto aside = RedPixels();
    EXPECT_EQ(aside.second, 0);
    EXPECT_EQ(ModelsDrawn, 1);
}

TEST_F(RenderPictureTest, TheHostGetsItsDeviceStateBack)
{
    IDirect3DDevice9* device = device_->Device();
    LookAlong(1, 0);
    const std::pair<D3DRENDERSTATETYPE, DWORD> states[] = {
        {D3DRS_CULLMODE, D3DCULL_CW}, {D3DRS_ZFUNC, D3DCMP_ALWAYS}, {D3DRS_LIGHTING, TRUE},
        {D3DRS_ALPHABLENDENABLE, FALSE}, {D3DRS_FILLMODE, D3DFILL_POINT}, {D3DRS_FOGENABLE, TRUE},
        {D3DRS_ALPHAREF, 3}};
    for (const auto& state : states) device->SetRenderState(state.first, state.second);
    device->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_POINT);
    device->SetSamplerState(5, D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP);
    device->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_ADD);
    device->SetFVF(D3DFVF_XYZRHW);
    D3DMATRIX world{};
    world._11 = world._22 = world._33 = world._44 = 2;
    device->SetTransform(D3DTS_WORLD, &world);

    RedPixels();
    ASSERT_EQ(ModelsDrawn, 1);

    for (const auto& state : states) {
        DWORD value = 0;
        device->GetRenderState(state.first, &value);
        EXPECT_EQ(value, state.second) << "render state " << state.first;
    }
    DWORD value = 0;
    device->GetSamplerState(0, D3DSAMP_MINFILTER, &value);
    EXPECT_EQ(value, DWORD(D3DTEXF_POINT));
    device->GetSamplerState(5, D3DSAMP_ADDRESSU, &value);
    EXPECT_EQ(value, DWORD(D3DTADDRESS_CLAMP));
    device->GetTextureStageState(1, D3DTSS_COLOROP, &value);
    EXPECT_EQ(value, DWORD(D3DTOP_ADD));
    device->GetFVF(&value);
    EXPECT_EQ(value, DWORD(D3DFVF_XYZRHW));
    D3DMATRIX after{};
    device->GetTransform(D3DTS_WORLD, &after);
    EXPECT_EQ(after._11, 2.0f);
    EXPECT_EQ(after._41, 0.0f);
}

}  // namespace
