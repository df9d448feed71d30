#include "app/TForm1.h"
#include "app/TarnbeckApplication.h"

int main(int argc, char *argv[])
{
    TarnbeckApplication app(argc, argv);
    TarnbeckApplication::setTitle(QStringLiteral("Tarnbeck"));
    int result = 0;
    {
        TForm1 form;
        form.show();
        result = app.exec();
    }  // the window is destroyed here, which saves the settings
    return result;
}
