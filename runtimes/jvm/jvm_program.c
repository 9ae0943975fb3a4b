/* The Java side of a launch, through JNI calls on the VM's main thread.
 * Every helper that can fail returns null (or false) then, an exception
 * possibly pending; each call that can throw is checked before the next. */
#include "jvm_program.h"

#include <stdbool.h>
#include <stdio.h>
#include <string.h>

#include "jvm_agent.h"
#include "runtime_trace.h"

/* The names of the main class: as given (for messages) and dotted. */
typedef struct MainClassName {
    jstring given;
    jstring dotted;
} MainClassName;

static const char defineMain[] =
    ", please define the main method as: public static void main(String[] args)";

/* Whether an exception is pending. */
static bool pending(JNIEnv *env) {
    return (*env)->ExceptionCheck(env) == JNI_TRUE;
}

/* Takes the pending exception, clearing it; null when there is none. */
static jthrowable takeException(JNIEnv *env) {
    jthrowable thrown = (*env)->ExceptionOccurred(env);
    if (thrown != NULL) {
        (*env)->ExceptionClear(env);
    }
    return thrown;
}

/* Whether `object` is an instance of the class named `className`; clears
 * what looking the class up throws. */
static bool isInstance(JNIEnv *env, jobject object, const char *className) {
    jclass type = (*env)->FindClass(env, className);
    if (type == NULL) {
        (*env)->ExceptionClear(env);
        return false;
    }
    bool instance = (*env)->IsInstanceOf(env, object, type) == JNI_TRUE;
    (*env)->DeleteLocalRef(env, type);
    return instance;
}

/* Calls the object-returning instance method `name` of `target` with
 * `signature`, passing `argument` when the signature takes one. Null when
 * it returned null or threw (the exception left pending). */
static jobject callObjectMethod(JNIEnv *env, jobject target, const char *name,
                                const char *signature, jobject argument) {
    if (target == NULL) {
        return NULL;
    }
    jclass type = (*env)->GetObjectClass(env, target);
    jmethodID method = (*env)->GetMethodID(env, type, name, signature);
    (*env)->DeleteLocalRef(env, type);
    if (method == NULL) {
        return NULL;
    }
    jobject result = (*env)->CallObjectMethod(env, target, method, argument);
    return pending(env) ? NULL : result;
}

/* Calls the void no-argument method `name` of `target` and clears
 * whatever it throws. */
static void callQuietly(JNIEnv *env, jobject target, const char *name) {
    jclass type = (*env)->GetObjectClass(env, target);
    jmethodID method = (*env)->GetMethodID(env, type, name, "()V");
    (*env)->DeleteLocalRef(env, type);
    if (method != NULL) {
        (*env)->CallVoidMethod(env, target, method);
    }
    (*env)->ExceptionClear(env);
}

/* A Java string of an ASCII literal; null with an exception pending. */
static jstring literal(JNIEnv *env, const char *text) {
    return (*env)->NewStringUTF(env, text);
}

/* a + b; null when either is null or the VM fails. */
static jstring concat(JNIEnv *env, jstring a, jstring b) {
    if (a == NULL || b == NULL) {
        return NULL;
    }
    return (jstring)callObjectMethod(env, a, "concat", "(Ljava/lang/String;)Ljava/lang/String;",
                                     b);
}

/* The string of `object`.toString(); null when it throws. */
static jstring describe(JNIEnv *env, jobject object) {
    return (jstring)callObjectMethod(env, object, "toString", "()Ljava/lang/String;", NULL);
}

/* The platform encoding's name (sun.jnu.encoding, else native.encoding),
 * the one the VM uses for command-line strings; null when neither is set.
 * Leaves no exception pending. */
static jstring platformEncoding(JNIEnv *env) {
    static const char *const names[] = {"sun.jnu.encoding", "native.encoding"};
    jclass system = (*env)->FindClass(env, "java/lang/System");
    jmethodID getProperty =
        system == NULL ? NULL
                       : (*env)->GetStaticMethodID(env, system, "getProperty",
                                                   "(Ljava/lang/String;)Ljava/lang/String;");
    jstring encoding = NULL;
    for (size_t i = 0; getProperty != NULL && encoding == NULL && i < 2; i++) {
        jstring name = literal(env, names[i]);
        if (name == NULL) {
            break;
        }
        encoding = (jstring)(*env)->CallStaticObjectMethod(env, system, getProperty, name);
        if (pending(env)) {
            encoding = NULL;
        }
        (*env)->DeleteLocalRef(env, name);
    }
    (*env)->ExceptionClear(env);
    return encoding;
}

/* The Java string of `bytes` decoded in `encoding` (the default charset
 * when null or unknown), malformed input becoming replacement characters,
 * as new String(byte[], String) does. Null with an exception pending when
 * the VM runs out of memory. */
static jstring platformString(JNIEnv *env, jstring encoding, const char *bytes) {
    jsize length = (jsize)strlen(bytes);
    jbyteArray array = (*env)->NewByteArray(env, length);
    if (array == NULL) {
        return NULL;
    }
    (*env)->SetByteArrayRegion(env, array, 0, length, (const jbyte *)bytes);
    jclass string = (*env)->FindClass(env, "java/lang/String");
    jstring result = NULL;
    if (string != NULL && encoding != NULL) {
        jmethodID decode = (*env)->GetMethodID(env, string, "<init>", "([BLjava/lang/String;)V");
        result = decode == NULL ? NULL
                                : (jstring)(*env)->NewObject(env, string, decode, array, encoding);
        if (pending(env)) {
            (*env)->ExceptionClear(env);
            result = NULL;
        }
    }
    if (string != NULL && result == NULL) {
        jmethodID decode = (*env)->GetMethodID(env, string, "<init>", "([B)V");
        result = decode == NULL ? NULL : (jstring)(*env)->NewObject(env, string, decode, array);
        result = pending(env) ? NULL : result;
    }
    (*env)->DeleteLocalRef(env, array);
    (*env)->DeleteLocalRef(env, string);
    return result;
}

/* Prints `line` with System.err.println. A null line (its making failed)
 * prints the pending exception instead. Leaves no exception pending. */
static void printErrorLine(JNIEnv *env, jstring line) {
    if (line == NULL) {
        (*env)->ExceptionDescribe(env);
        (*env)->ExceptionClear(env);
        return;
    }
    jclass system = (*env)->FindClass(env, "java/lang/System");
    jfieldID field = system == NULL ? NULL
                                    : (*env)->GetStaticFieldID(env, system, "err",
                                                               "Ljava/io/PrintStream;");
    jobject err = field == NULL ? NULL : (*env)->GetStaticObjectField(env, system, field);
    jclass stream = err == NULL ? NULL : (*env)->GetObjectClass(env, err);
    jmethodID println = stream == NULL ? NULL
                                       : (*env)->GetMethodID(env, stream, "println",
                                                             "(Ljava/lang/String;)V");
    if (println != NULL) {
        (*env)->CallVoidMethod(env, err, println, line);
    }
    (*env)->ExceptionClear(env);
}

/* Sends `line` (may be null: nothing is sent) to the journal as the
 * report it is (huxJournal), in the VM's modified UTF-8. Leaves no
 * exception pending. */
static void journalLine(JNIEnv *env, jstring line) {
    const char *text = line != NULL ? (*env)->GetStringUTFChars(env, line, NULL) : NULL;
    if (text != NULL) {
        huxJournal(text);
        (*env)->ReleaseStringUTFChars(env, line, text);
    }
    (*env)->ExceptionClear(env);
}

/* Prints "<prefix><subject><suffix>" as one error line, which also goes
 * to the journal when standard error is not a terminal; `suffix` may be
 * null. Leaves no exception pending. */
static void reportLine(JNIEnv *env, const char *prefix, jstring subject, jstring suffix) {
    jstring line = concat(env, literal(env, prefix), subject);
    if (line != NULL && suffix != NULL) {
        line = concat(env, line, suffix);
    }
    printErrorLine(env, line);
    journalLine(env, line);
}

/* Reports that the main class could not be loaded, with `cause`. */
static void reportLoadFailure(JNIEnv *env, const MainClassName *name, jthrowable cause) {
    jstring causeText = cause != NULL ? describe(env, cause) : literal(env, "not found");
    reportLine(env, "Error: Could not find or load main class ", name->given,
               concat(env, literal(env, ": "), causeText));
}

/* The trimmed Main-Class value of the open jar's manifest; null when
 * there is none or reading it threw (the exception left pending). */
static jstring manifestMainClass(JNIEnv *env, jobject jar) {
    jobject manifest =
        callObjectMethod(env, jar, "getManifest", "()Ljava/util/jar/Manifest;", NULL);
    jobject attributes = callObjectMethod(env, manifest, "getMainAttributes",
                                          "()Ljava/util/jar/Attributes;", NULL);
    jstring key = attributes == NULL ? NULL : literal(env, "Main-Class");
    jstring value = key == NULL ? NULL
                                : (jstring)callObjectMethod(
                                      env, attributes, "getValue",
                                      "(Ljava/lang/String;)Ljava/lang/String;", key);
    return (jstring)callObjectMethod(env, value, "trim", "()Ljava/lang/String;", NULL);
}

/* The Main-Class of the jar, or null after the line saying why there is
 * none: the jar cannot be opened, is not a jar, or names no main class. */
static jstring readJarMainClass(JNIEnv *env, jstring encoding, const char *jarFile) {
    jstring path = platformString(env, encoding, jarFile);
    jclass jarType = path == NULL ? NULL : (*env)->FindClass(env, "java/util/jar/JarFile");
    jmethodID open = jarType == NULL ? NULL
                                     : (*env)->GetMethodID(env, jarType, "<init>",
                                                           "(Ljava/lang/String;)V");
    jobject jar = open == NULL ? NULL : (*env)->NewObject(env, jarType, open, path);
    jthrowable thrown = takeException(env);
    if (jar == NULL || thrown != NULL) {
        bool corrupt = thrown != NULL && isInstance(env, thrown, "java/util/zip/ZipException");
        reportLine(env,
                   corrupt ? "Error: Invalid or corrupt jarfile "
                           : "Error: Unable to access jarfile ",
                   path, NULL);
        return NULL;
    }
    jstring mainClass = manifestMainClass(env, jar);
    thrown = takeException(env);
    callQuietly(env, jar, "close");
    if (thrown != NULL) {
        reportLine(env, "Error: Invalid or corrupt jarfile ", path, NULL);
        return NULL;
    }
    if (mainClass == NULL) {
        reportLine(env, "no main manifest attribute, in ", path, NULL);
    }
    return mainClass;
}

/* Loads the class named `dotted` through
 * ClassLoader.getSystemClassLoader().loadClass, without initialising it;
 * null when that fails (the cause left pending). */
static jclass loadMainClass(JNIEnv *env, jstring dotted) {
    jclass loaderType = (*env)->FindClass(env, "java/lang/ClassLoader");
    jmethodID getSystem =
        loaderType == NULL ? NULL
                           : (*env)->GetStaticMethodID(env, loaderType, "getSystemClassLoader",
                                                       "()Ljava/lang/ClassLoader;");
    jobject loader =
        getSystem == NULL ? NULL : (*env)->CallStaticObjectMethod(env, loaderType, getSystem);
    if (pending(env)) {
        return NULL;
    }
    return (jclass)callObjectMethod(env, loader, "loadClass",
                                    "(Ljava/lang/String;)Ljava/lang/Class;", dotted);
}

/* The public main(String[]) method of `mainClass` as a reflected Method,
 * found without initialising the class; null when there is none
 * (NoSuchMethodException pending) or looking failed. */
static jobject findMainMethod(JNIEnv *env, jclass mainClass) {
    jclass classType = (*env)->GetObjectClass(env, mainClass);
    jclass stringArray = (*env)->FindClass(env, "[Ljava/lang/String;");
    jobjectArray parameters =
        stringArray == NULL ? NULL : (*env)->NewObjectArray(env, 1, classType, stringArray);
    jstring mainName = parameters == NULL ? NULL : literal(env, "main");
    jmethodID getMethod =
        mainName == NULL
            ? NULL
            : (*env)->GetMethodID(env, classType, "getMethod",
                                  "(Ljava/lang/String;[Ljava/lang/Class;)Ljava/lang/reflect/Method;");
    jobject method = getMethod == NULL ? NULL
                                       : (*env)->CallObjectMethod(env, mainClass, getMethod,
                                                                  mainName, parameters);
    return pending(env) ? NULL : method;
}

/* Whether the reflected method is static; false when asking fails. */
static bool isStatic(JNIEnv *env, jobject method) {
    static const jint staticModifier = 0x0008;
    jclass type = (*env)->GetObjectClass(env, method);
    jmethodID getModifiers = (*env)->GetMethodID(env, type, "getModifiers", "()I");
    jint modifiers = getModifiers == NULL ? 0 : (*env)->CallIntMethod(env, method, getModifiers);
    if (pending(env)) {
        (*env)->ExceptionClear(env);
        return false;
    }
    return (modifiers & staticModifier) != 0;
}

/* The String[] of the program's arguments in the platform encoding; null
 * with an exception pending when the VM runs out of memory. */
static jobjectArray buildArguments(JNIEnv *env, jstring encoding, const JvmCommand *command) {
    jclass string = (*env)->FindClass(env, "java/lang/String");
    jobjectArray array =
        string == NULL ? NULL
                       : (*env)->NewObjectArray(env, command->programArgCount, string, NULL);
    for (int i = 0; array != NULL && i < command->programArgCount; i++) {
        jstring argument = platformString(env, encoding, command->programArgs[i]);
        if (argument == NULL) {
            return NULL;
        }
        (*env)->SetObjectArrayElement(env, array, i, argument);
        (*env)->DeleteLocalRef(env, argument);
        if (pending(env)) {
            return NULL;
        }
    }
    return array;
}

/* Hands `thrown` to Thread.currentThread().getUncaughtExceptionHandler(),
 * which prints the usual "Exception in thread" trace unless the program
 * set a handler of its own. Clears whatever the handler throws. */
static void handUncaught(JNIEnv *env, jthrowable thrown) {
    jclass threadType = (*env)->FindClass(env, "java/lang/Thread");
    jmethodID current = threadType == NULL ? NULL
                                           : (*env)->GetStaticMethodID(env, threadType,
                                                                       "currentThread",
                                                                       "()Ljava/lang/Thread;");
    jobject thread = current == NULL ? NULL
                                     : (*env)->CallStaticObjectMethod(env, threadType, current);
    jobject handler =
        pending(env) ? NULL
                     : callObjectMethod(env, thread, "getUncaughtExceptionHandler",
                                        "()Ljava/lang/Thread$UncaughtExceptionHandler;", NULL);
    jclass handlerType = handler == NULL ? NULL : (*env)->GetObjectClass(env, handler);
    jmethodID uncaught = handlerType == NULL
                             ? NULL
                             : (*env)->GetMethodID(env, handlerType, "uncaughtException",
                                                   "(Ljava/lang/Thread;Ljava/lang/Throwable;)V");
    if (uncaught != NULL) {
        (*env)->CallVoidMethod(env, handler, uncaught, thread, thrown);
    }
    (*env)->ExceptionClear(env);
}

/* The main class's names: from the command line, or from the jar's
 * manifest; false after the line saying why there is none. */
static bool nameMainClass(JNIEnv *env, jstring encoding, const JvmCommand *command,
                          MainClassName *name) {
    name->given = command->jarFile != NULL ? readJarMainClass(env, encoding, command->jarFile)
                                           : platformString(env, encoding, command->mainClass);
    if (name->given == NULL) {
        if (pending(env)) {
            printErrorLine(env, NULL);
        }
        return false;
    }
    jclass string = (*env)->GetObjectClass(env, name->given);
    jmethodID replace = (*env)->GetMethodID(env, string, "replace", "(CC)Ljava/lang/String;");
    name->dotted = replace == NULL ? NULL
                                   : (jstring)(*env)->CallObjectMethod(env, name->given, replace,
                                                                       (jchar)'/', (jchar)'.');
    if (pending(env) || name->dotted == NULL) {
        printErrorLine(env, NULL);
        return false;
    }
    const char *dotted = (*env)->GetStringUTFChars(env, name->dotted, NULL);
    if (dotted != NULL) {
        huxTrace("jvm: main class [%s]", dotted);
        (*env)->ReleaseStringUTFChars(env, name->dotted, dotted);
    }
    (*env)->ExceptionClear(env);
    return true;
}

/* The main method's id, its class stored in *mainClass, or null after the
 * line saying what is missing. An exception that initialising the class
 * throws is left pending, for the caller to treat as thrown by main. */
static jmethodID resolveMain(JNIEnv *env, const MainClassName *name, jclass *mainClass) {
    *mainClass = loadMainClass(env, name->dotted);
    if (*mainClass == NULL) {
        reportLoadFailure(env, name, takeException(env));
        return NULL;
    }
    jobject method = findMainMethod(env, *mainClass);
    if (method == NULL) {
        jthrowable thrown = takeException(env);
        if (thrown != NULL && !isInstance(env, thrown, "java/lang/NoSuchMethodException")) {
            reportLoadFailure(env, name, thrown);
        } else {
            reportLine(env, "Error: Main method not found in class ", name->dotted,
                       literal(env, defineMain));
        }
        return NULL;
    }
    if (!isStatic(env, method)) {
        reportLine(env, "Error: Main method is not static in class ", name->dotted,
                   literal(env, defineMain));
        return NULL;
    }
    return (*env)->FromReflectedMethod(env, method);
}

/* Starts the Launcher-Agent-Class `className`: loads it through the
 * system class loader and calls its agentmain with "" and the
 * instrumentation that the agent jar's class kept. Returns false, the
 * exception handed to the uncaught exception handler or one line on
 * System.err, when that fails or agentmain throws. */
static bool startLauncherAgent(JNIEnv *env, jstring encoding, const char *className) {
    jstring agentName = platformString(env, encoding, className);
    jstring helperName = literal(env, JVM_AGENT_CLASS);
    jclass helper = helperName == NULL ? NULL : loadMainClass(env, helperName);
    jmethodID get = helper == NULL ? NULL
                                   : (*env)->GetStaticMethodID(env, helper, "instrumentation",
                                                               "()Ljava/lang/instrument/Instrumentation;");
    jobject instrumentation = get == NULL ? NULL : (*env)->CallStaticObjectMethod(env, helper, get);
    jclass agent = pending(env) || agentName == NULL ? NULL : loadMainClass(env, agentName);
    if (agent == NULL || instrumentation == NULL) {
        jthrowable thrown = takeException(env);
        reportLine(env, "Error: cannot start Launcher-Agent-Class ", agentName,
                   thrown != NULL ? concat(env, literal(env, ": "), describe(env, thrown)) : NULL);
        return false;
    }
    jstring empty = literal(env, "");
    jmethodID withInstrumentation = (*env)->GetStaticMethodID(
        env, agent, "agentmain", "(Ljava/lang/String;Ljava/lang/instrument/Instrumentation;)V");
    (*env)->ExceptionClear(env);
    jmethodID alone = withInstrumentation != NULL
                          ? NULL
                          : (*env)->GetStaticMethodID(env, agent, "agentmain",
                                                      "(Ljava/lang/String;)V");
    (*env)->ExceptionClear(env);
    if (withInstrumentation != NULL) {
        (*env)->CallStaticVoidMethod(env, agent, withInstrumentation, empty, instrumentation);
    } else if (alone != NULL) {
        (*env)->CallStaticVoidMethod(env, agent, alone, empty);
    } else {
        reportLine(env, "Error: cannot start Launcher-Agent-Class ", agentName,
                   literal(env, ": it has no static agentmain(String, Instrumentation) or "
                                "agentmain(String)"));
        return false;
    }
    jthrowable thrown = takeException(env);
    if (thrown != NULL) {
        handUncaught(env, thrown);
        return false;
    }
    return true;
}

/* Finds main and calls it; returns 0, or 1 when it could not be called
 * or it (or the class's initialisation) threw, the exception then handed
 * to the uncaught exception handler. */
static int callMain(JNIEnv *env, const JvmCommand *command) {
    jstring encoding = platformEncoding(env);
    MainClassName name = {NULL, NULL};
    if (!nameMainClass(env, encoding, command, &name)) {
        return 1;
    }
    if (command->launcherAgentClass != NULL &&
        !startLauncherAgent(env, encoding, command->launcherAgentClass)) {
        return 1;
    }
    jclass mainClass = NULL;
    jmethodID main = resolveMain(env, &name, &mainClass);
    if (main == NULL && !pending(env)) {
        return 1;
    }
    jobjectArray arguments = main == NULL ? NULL : buildArguments(env, encoding, command);
    if (arguments != NULL) {
        (*env)->CallStaticVoidMethod(env, mainClass, main, arguments);
    }
    jthrowable thrown = takeException(env);
    if (thrown == NULL) {
        return 0;
    }
    handUncaught(env, thrown);
    return 1;
}

int jvmRunProgram(JavaVM *vm, JNIEnv *env, const JvmCommand *command) {
    int status = callMain(env, command);
    jint destroyed = (*vm)->DestroyJavaVM(vm);
    if (destroyed != JNI_OK) {
        huxReport("Error: the Java VM did not shut down (JNI status %d)", (int)destroyed);
        return 1;
    }
    return status;
}

int jvmCheckProgram(JNIEnv *env, const JvmCommand *command) {
    jstring encoding = platformEncoding(env);
    MainClassName name = {NULL, NULL};
    if (!nameMainClass(env, encoding, command, &name)) {
        return 1;
    }
    jclass mainClass = NULL;
    jmethodID main = resolveMain(env, &name, &mainClass);
    jthrowable thrown = takeException(env);
    if (thrown != NULL) {
        handUncaught(env, thrown);
    }
    return main != NULL && thrown == NULL ? 0 : 1;
}
