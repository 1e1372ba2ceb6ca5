// A tiny program with a version resource, standing in for the package's executables.
int main(void)
{
    return 0;
}
