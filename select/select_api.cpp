#include "select/select_api.h"

#include "select/upload_select.h"
#include "server/WebControl.h"

namespace trv {

namespace {

// The dialog reports through the object's own IWebBBS, so every entry
// reaches the page as UpSelectComplete.
class WebBBSSink : public SelectionSink {
public:
    explicit WebBBSSink(IWebBBS* owner) : m_owner(owner) {}
    HRESULT Report(BSTR strPath, BSTR strSize, BSTR strMode) override {
        return m_owner->SelectComplete(strPath, strSize, strMode);
    }

private:
    IWebBBS* m_owner;
};

}  // namespace

INT_PTR ShowUploadSelectDialog(IWebBBS* owner) {
    WebBBSSink sink(owner);
    UploadSelect dialog(owner ? &sink : nullptr);
    return dialog.DoModal(GetActiveWindow());
}

}  // namespace trv
